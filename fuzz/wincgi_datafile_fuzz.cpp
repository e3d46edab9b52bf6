// The Windows CGI data-file reader over arbitrary bytes: every variable it
// adds is NAME=value with a name free of blanks, every line it delivers is
// within the line bound, and the form content is a sequence of key=value&.
#include <cstddef>
#include <cstdint>
#include <string>

#include "gateway/CGIWEngData.h"
#include "platform/Streams.h"
#include "platform/StringList.h"

namespace {
// Stands in for the files that FORM_EXTERNAL entries name: as many bytes as
// claimed, up to a small cap, so the length handling is exercised.
bool FakeExternal(const std::string& path, std::int32_t length, std::string& bytes) {
    if (path.find("absent") != std::string::npos) return false;
    bytes.assign(static_cast<std::size_t>(length < 300 ? length : 300), '\x01');
    return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        TMemoryStream stream;
        stream.WriteString(bytes);
        stream.SetPosition(0);
        std::string line;
        while (ReadDataLine(stream, line))
            if (line.size() >= MaxDataLine || line.find('\r') != std::string::npos) __builtin_trap();
    }
    TMemoryStream stream;
    stream.WriteString(bytes);
    stream.SetPosition(0);
    TStringList variables(true);
    TWinCgiForm form;
    ParseWinCgiData(stream, variables, form, FakeExternal);
    for (const auto& entry : variables.Lines()) {
        const std::size_t equals = entry.find('=');
        if (equals == std::string::npos || equals == 0) __builtin_trap();
        if (entry.substr(0, equals).find(' ') != std::string::npos) __builtin_trap();
    }
    if (form.HasContent != !form.Content.empty()) __builtin_trap();
    if (!form.Content.empty() && form.Content.back() != '&') __builtin_trap();
    return 0;
}
