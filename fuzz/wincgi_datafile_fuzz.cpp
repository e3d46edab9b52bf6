// The Windows CGI data-file reader over arbitrary bytes: every variable it
// adds is NAME=value with a name free of blanks, every line it delivers is
// within the line bound, and the form content is a sequence of key=value&.
// The same bytes as a data file on disk, read by ReadWinCgiDataFile, give
// the same variables, an empty output file and the form content (or the
// content file) as the request body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "fuzz/MemoryInput.h"
#include "fuzz/ScratchFolder.h"
#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/frontends/CGIWEng.h"
#include "gateway/frontends/CGIWEngData.h"
#include "platform/Exception.h"
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

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

std::string ReadAll(TStream& stream) {
    std::string text;
    char piece[4096];
    for (int n; (n = stream.Read(piece, sizeof piece)) > 0;) text.append(piece, static_cast<std::size_t>(n));
    return text;
}

// A folder of its own, made the current folder while a data file is read:
// with no separator in the bytes, every file the data names (output,
// content, external fields) lies in it.
namespace fs = std::filesystem;
const fs::path& Scratch() {
    static const fs::path folder = ScratchFolder();
    return folder;
}

void ReadAsDataFile(const std::string& bytes) {
    if (bytes.find_first_of("/\\") != std::string::npos) return;
    const fs::path old = fs::current_path();
    fs::current_path(Scratch());
    {
        std::ofstream file("data.ini", std::ios::binary | std::ios::trunc);
        file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    TMemoryInput memory(bytes);
    TStringList expected(true);
    TWinCgiForm form;
    ParseWinCgiData(memory, expected, form, ReadExternalFieldFile);

    std::string outputName;
    TStream* input = nullptr;
    TStream* output = nullptr;
    TStringList variables(true);
    bool raised = false;
    try {
        ReadWinCgiDataFile("data.ini", outputName, input, variables, output);
    } catch (const Exception&) {
        raised = true;
    }
    std::unique_ptr<TStream> body(input);
    std::unique_ptr<TStream> out(output);
    Check(variables.Lines() == expected.Lines());
    if (raised) {
        Check(!body && !out);
    } else {
        Check(out != nullptr && out->Size() == 0);
        Check(outputName == AddSystemDrive(expected.Values("OUTPUT_FILE")));
        const std::string contentFile = expected.Values("CONTENT_FILE");
        if (!contentFile.empty() && FileExists(contentFile)) Check(body != nullptr);
        else if (form.HasContent) Check(body != nullptr && ReadAll(*body) == form.Content);
        else Check(body == nullptr);
    }
    body.reset();
    out.reset();
    fs::current_path(old);
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(Scratch(), ignored)) fs::remove_all(entry.path(), ignored);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        TMemoryInput stream(bytes);
        std::string line;
        while (ReadDataLine(stream, line))
            if (line.size() >= MaxDataLine || line.find('\r') != std::string::npos) __builtin_trap();
    }
    TMemoryInput stream(bytes);
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
    ReadAsDataFile(bytes);
    return 0;
}
