// The resident server's reading of a claimed request file over arbitrary
// bytes: a header is found only before a CR LF CR LF, never holds one, and
// the body starts right behind it. Composing a list and reading it back
// gives the same header text. The same bytes as a claimed file on disk read
// as the server reads them: the same header through a file stream, split
// into variables, then at most CONTENT_LENGTH body bytes from right behind
// the header, which parse into fields together with the query string.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzz/MemoryInput.h"
#include "fuzz/ScratchFolder.h"
#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/engine/UrlEncoded.h"
#include "gateway/servermode/ServerModeRequest.h"
#include "platform/Streams.h"
#include "platform/StringList.h"

namespace {
void Check(bool condition) {
    if (!condition) __builtin_trap();
}

const std::string& ClaimedFile() {
    static const std::string path = ScratchFolder() + "/valsetto_10-0-0-1_0002A_cnf";
    return path;
}

void ReadAsClaimedFile(const std::string& bytes, bool headerFound, const std::string& expectedHeader) {
    {
        std::ofstream file(ClaimedFile(), std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    TFileStream input(ClaimedFile(), fmOpenRead | fmShareDenyNone);
    std::string header;
    const bool found = ReadRequestHeader(input, header);
    Check(found == headerFound);
    if (!found) return;
    Check(header == expectedHeader);

    const auto variables = TextToStringList(header);
    for (const auto& line : variables->Lines()) Check(line.find_first_of("\r\n") == std::string::npos);
    const std::int32_t length = RequestContentLength(*variables);
    Check(length >= 0);
    std::string body;
    char piece[1032];
    while (static_cast<std::int64_t>(body.size()) < length) {
        const int want = static_cast<int>(std::min<std::int64_t>(sizeof piece, length - static_cast<std::int64_t>(body.size())));
        const int n = input.Read(piece, want);
        if (n <= 0) break;
        body.append(piece, static_cast<std::size_t>(n));
    }
    Check(body == bytes.substr(header.size() + 4, static_cast<std::size_t>(length)));

    TStringList fields(/*sorted=*/true);
    ParseUrlEncoded(fields, body + "&");
    ParseUrlEncoded(fields, variables->Values("QUERY_STRING") + "&");
    for (const auto& line : fields.Lines()) Check(line.find('=') != std::string::npos && line.find('=') > 0);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    TMemoryInput stream(bytes);
    std::string header;
    const bool found = ReadRequestHeader(stream, header);
    ReadAsClaimedFile(bytes, found, header);
    if (found) {
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
    TMemoryInput composed(ComposeRequestHeader(list));
    std::string back;
    if (!ReadRequestHeader(composed, back) || back + "\r\n" != list.Text()) __builtin_trap();
    return 0;
}
