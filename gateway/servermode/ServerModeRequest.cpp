#include "gateway/servermode/ServerModeRequest.h"

#include <cstdio>

#include "platform/Streams.h"
#include "platform/StringList.h"
#include "platform/SysUtils.h"

namespace {
constexpr std::string_view HeaderTerminator = "\r\n\r\n";
constexpr int HeaderReadBlock = 512;
}  // namespace

std::string ComposeRequestHeader(const TStringList& variables) {
    std::string text;
    for (const auto& line : variables.Lines()) {
        text += line;
        text += "\r\n";
    }
    text += "\r\n";
    return text;
}

bool FramesSafely(const TStringList& variables) {
    for (const auto& line : variables.Lines())
        if (line.empty() || line.find_first_of("\r\n") != std::string::npos) return false;
    return true;
}

std::int32_t RequestContentLength(const TStringList& variables) {
    const std::int32_t length = StrToIntDef(variables.Values("CONTENT_LENGTH"), 0);
    return length > 0 ? length : 0;
}

std::string ClientAddress(const TStringList& variables) {
    std::string address = variables.Values("REMOTE_ADDR");
    if (address.empty()) address = variables.Values("REMOTE_ADDRESS");
    for (char& c : address)
        if (c == '.') c = '-';
    return address;
}

std::string FormatClientId(std::string_view address, std::uint32_t number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%05X", static_cast<unsigned>(number));
    return std::string(address) + "_" + digits;
}

bool ReadRequestHeader(TStream& input, std::string& header) {
    const std::int64_t start = input.Position();
    std::string text;
    char block[HeaderReadBlock];
    std::size_t found = std::string::npos;
    while (found == std::string::npos && text.size() < MaxRequestHeader) {
        const int n = input.Read(block, sizeof block);
        if (n <= 0) break;
        // The terminator may straddle two blocks: search from 3 bytes back.
        const std::size_t from = text.size() >= 3 ? text.size() - 3 : 0;
        text.append(block, static_cast<std::size_t>(n));
        found = text.find(HeaderTerminator, from);
    }
    if (found == std::string::npos || found == 0 || found > MaxRequestHeader) return false;
    header = text.substr(0, found);
    input.SetPosition(start + static_cast<std::int64_t>(found + HeaderTerminator.size()));
    return true;
}
