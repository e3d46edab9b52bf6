#include "tests/support/Streams.h"

#include <algorithm>
#include <cstring>

namespace support {

std::string TWrites::All() const {
    std::string all;
    for (const auto& piece : Pieces) all += piece;
    return all;
}

int TSinkStream::Write(const void* buffer, int count) {
    writes_->Pieces.emplace_back(static_cast<const char*>(buffer), static_cast<std::size_t>(count));
    return count;
}

int TScriptedInput::Read(void* buffer, int count) {
    if (answers_.empty()) return tail_;
    std::string& next = answers_.front();
    const int n = std::min<int>(count, static_cast<int>(next.size()));
    std::memcpy(buffer, next.data(), static_cast<std::size_t>(n));
    if (n == static_cast<int>(next.size()))
        answers_.pop_front();
    else
        next.erase(0, static_cast<std::size_t>(n));
    return n;
}

}  // namespace support
