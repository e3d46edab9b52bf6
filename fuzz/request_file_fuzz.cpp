// The resident server's reading of a claimed request file over arbitrary
// bytes: a header is found only before a CR LF CR LF, never holds one, and
// the body starts right behind it. Composing a list and reading it back
// gives the same header text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "gateway/ServerModeRequest.h"
#include "platform/Streams.h"
#include "platform/StringList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    TMemoryStream stream;
    stream.WriteString(bytes);
    stream.SetPosition(0);
    std::string header;
    if (ReadRequestHeader(stream, header)) {
        if (header.empty() || header.find("\r\n\r\n") != std::string::npos) __builtin_trap();
        if (bytes.compare(0, header.size() + 4, header + "\r\n\r\n") != 0) __builtin_trap();
        if (stream.Position() != static_cast<std::int64_t>(header.size() + 4)) __builtin_trap();
    } else if (bytes.find("\r\n\r\n") != std::string::npos && bytes.find("\r\n\r\n") != 0) {
        __builtin_trap();
    }

    // Round trip: lines without line ends, composed and read back.
    TStringList list(false);
    std::string line;
    for (char c : bytes) {
        if (c == '\r' || c == '\n') {
            if (!line.empty()) list.Add(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) list.Add(line);
    if (list.Empty()) return 0;
    TMemoryStream composed;
    composed.WriteString(ComposeRequestHeader(list));
    composed.SetPosition(0);
    std::string back;
    if (!ReadRequestHeader(composed, back) || back + "\r\n" != list.Text()) __builtin_trap();
    return 0;
}
