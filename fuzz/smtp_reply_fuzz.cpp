// Reading a mail server's reply over arbitrary bytes: lines are taken as
// the socket's ReadLn takes them, with the bytes arriving in pieces (the
// first byte sets the piece size), and each line's number and continuation
// mark are read. Lines taken and the rest left give back the input; a line
// ends at its only line feed and holds no NUL; a reply number is the value
// of the line's leading digits and fits 16 bits.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/SmtpReply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t piece = size == 0 ? 1 : 1 + data[0] % 16;
    TLineBuffer received;
    std::string joined;
    std::string line;
    for (std::size_t at = 0; at < size; at += piece) {
        received.Append(bytes.data() + at, std::min(piece, size - at));
        while (received.TakeLine(line)) {
            if (line.empty() || line.back() != '\n') __builtin_trap();
            if (line.find('\n') != line.size() - 1 || line.find('\0') != std::string::npos) __builtin_trap();
            joined += line;

            const std::int16_t number = ParseReplyNumber(line);
            if (number < 0) __builtin_trap();
            std::int64_t value = 0;
            std::size_t digits = 0;
            while (digits < line.size() && digits < 10 && line[digits] >= '0' && line[digits] <= '9')
                value = value * 10 + (line[digits++] - '0');
            if (number != 0 && number != value) __builtin_trap();
            if (number == 0 && digits > 0 && value != 0 && value <= INT16_MAX) __builtin_trap();

            const bool more = IsContinuationLine(line);
            if (more != (line[0] == ' ' || (line.size() >= 4 && line[3] == '-'))) __builtin_trap();
        }
    }
    if (joined + std::string(received.Rest()) != bytes) __builtin_trap();
    // What is left holds no complete line before a NUL.
    for (char c : received.Rest()) {
        if (c == '\0') break;
        if (c == '\n') __builtin_trap();
    }
    return 0;
}
