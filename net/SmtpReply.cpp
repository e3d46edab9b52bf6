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

bool TakeLine(std::string& received, std::string& line) {
    for (std::size_t i = 0; i < received.size(); ++i) {
        if (received[i] == '\0') return false;
        if (received[i] == '\n') {
            line.assign(received, 0, i + 1);
            received.erase(0, i + 1);
            return true;
        }
    }
    return false;
}
