#include "gateway/frontends/CGIWEngData.h"

#include <memory>

#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/engine/UrlEncoded.h"
#include "platform/Exception.h"
#include "platform/Streams.h"
#include "platform/StringList.h"
#include "platform/SysUtils.h"

bool ReadDataLine(TStream& stream, std::string& line) {
    std::string collected;
    bool endedByCr = false;
    while (collected.size() < MaxDataLine) {
        char byte = 0;
        if (stream.Read(&byte, 1) != 1) break;
        if (byte == '\r') {
            endedByCr = true;
            break;
        }
        collected += byte;
    }
    line = TrimLeft(collected);
    return endedByCr;
}

namespace {
std::string BlanksToUnderscores(std::string text) {
    for (char& c : text)
        if (c == ' ') c = '_';
    return text;
}

// A FORM_EXTERNAL value: a path, one blank, a length of at most 10
// characters. False when the blank or a valid length is missing.
bool SplitExternalValue(const std::string& value, std::string& path, std::int32_t& length) {
    const std::size_t blank = value.find(' ');
    if (blank == std::string::npos) return false;
    path = value.substr(0, blank);
    return TryStrToInt(value.substr(blank + 1, 10), length) && length >= 0;
}

void AppendField(TWinCgiForm& form, const std::string& key, const std::string& bytes) {
    form.HasContent = true;
    form.Content += key + "=" + UrlEncode(bytes) + "&";
}

void ApplyEntry(const std::string& section, const std::string& key, const std::string& value,
                std::vector<std::string>& variables, TWinCgiForm& form, const TExternalFieldReader& readExternal) {
    if (section == "CGI" || section == "SYSTEM" || section == "EXTRA_HEADERS") {
        variables.push_back(BlanksToUnderscores(key) + "=" + value);
    } else if (section == "ACCEPT") {
        if (UpperCase(value) == "YES") form.Accepted.push_back(key);
    } else if (section == "FORM_LITERAL") {
        AppendField(form, key, value);
    } else if (section == "FORM_EXTERNAL") {
        std::string path;
        std::int32_t length = 0;
        std::string bytes;
        if (SplitExternalValue(value, path, length) && readExternal(AddSystemDrive(path), length, bytes))
            AppendField(form, key, bytes);
    }
}
}  // namespace

void ParseDataLine(std::string_view line, std::string& section, std::string& key, std::string& value) {
    key.clear();
    value.clear();
    if (line.empty()) return;
    if (line.front() == '[') {
        const std::size_t close = line.find(']', 1);
        if (close != std::string_view::npos)
            section = BlanksToUnderscores(UpperCase(Trim(line.substr(1, close - 1))));
        return;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return;
    key = Trim(line.substr(0, equals));
    value = Trim(line.substr(equals + 1));
}

void ParseWinCgiData(TStream& data, TStringList& variables, TWinCgiForm& form,
                     const TExternalFieldReader& readExternal) {
    std::string section;
    std::string line;
    std::string key;
    std::string value;
    // The entries are added at the end, in one sort, as many as the file holds.
    std::vector<std::string> added;
    while (ReadDataLine(data, line)) {
        ParseDataLine(line, section, key, value);
        if (!key.empty()) ApplyEntry(section, key, value, added, form, readExternal);
    }
    if (!form.Accepted.empty()) {
        std::string accept = "HTTP_ACCEPT=";
        for (std::size_t i = 0; i < form.Accepted.size(); ++i) {
            if (i > 0) accept += ",";
            accept += form.Accepted[i];
        }
        added.push_back(std::move(accept));
    }
    variables.Merge({}, std::move(added));
}

bool ReadExternalFieldFile(const std::string& path, std::int32_t length, std::string& bytes) {
    std::unique_ptr<TFileStream> file;
    try {
        file = std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyNone);
    } catch (const Exception&) {
        return false;
    }
    bytes.clear();
    char piece[2048];
    while (bytes.size() < static_cast<std::size_t>(length)) {
        const std::size_t want = std::min(sizeof piece, static_cast<std::size_t>(length) - bytes.size());
        const int n = file->Read(piece, static_cast<int>(want));
        if (n <= 0) break;
        bytes.append(piece, static_cast<std::size_t>(n));
    }
    return true;
}
