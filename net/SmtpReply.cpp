#include "net/SmtpReply.h"

std::int16_t ParseReplyNumber(std::string_view line) {
    std::int64_t value = 0;
    std::size_t digits = 0;
    while (digits < line.size() && digits < 10 && line[digits] >= '0' && line[digits] <= '9') {
        value = value * 10 + (line[digits] - '0');
        ++digits;
    }
    if (digits == 0 || value > INT16_MAX) return 0;
    return static_cast<std::int16_t>(value);
}

bool IsContinuationLine(std::string_view line) {
    return (!line.empty() && line[0] == ' ') || (line.size() >= 4 && line[3] == '-');
}

void TLineBuffer::Clear() {
    bytes_.clear();
    taken_ = searched_ = 0;
}

bool TLineBuffer::TakeLine(std::string& line) {
    for (std::size_t i = taken_ + searched_; i < bytes_.size(); ++i) {
        if (bytes_[i] == '\0') {
            searched_ = i - taken_;
            return false;
        }
        if (bytes_[i] == '\n') {
            line.assign(bytes_, taken_, i + 1 - taken_);
            taken_ = i + 1;
            searched_ = 0;
            if (taken_ * 2 >= bytes_.size()) {
                bytes_.erase(0, taken_);
                taken_ = 0;
            }
            return true;
        }
    }
    searched_ = bytes_.size() - taken_;
    return false;
}
