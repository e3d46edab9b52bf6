#include "app/qv_unit.h"

#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "platform/SysUtils.h"



namespace {
constexpr std::size_t MaxSplitTail = 20000;
constexpr std::size_t MaxNameStep = 255;
constexpr std::size_t MaxFolderAfterPrefix = 5000;
constexpr std::size_t MaxReplaceTail = 50000;
const std::string ReplaceMarker(4, '\xA4');
const std::string LongPathPrefix = "\\\\?\\";

std::string PadTwo(int value) {
    const std::string digits = IntToStr(value);
    return digits.size() < 2 ? std::string(2 - digits.size(), '0') + digits : digits;
}

// Puts piece in place of the length characters at index; the text after them
// is kept up to MaxReplaceTail characters. Returns where the piece ends.
std::size_t Splice(std::string& text, std::size_t index, std::size_t length, const std::string& piece) {
    std::string tail = text.substr(index + length, MaxReplaceTail);
    text.resize(index);
    text += piece;
    text += tail;
    return index + piece.size();
}
}  // namespace

void SplitHead(const std::string& delimiter, std::string& text, std::string& head) {
    head = text;
    const std::size_t at = Pos(delimiter, text);
    if (at == 0) return;
    head = text.substr(0, at - 1);
    text = text.substr(at - 1 + delimiter.size(), MaxSplitTail);
}

std::string DateToMMDDYY(TDateTime date) {
    int year = 0, month = 0, day = 0;
    DecodeDate(date, year, month, day);
    const std::string yearDigits = IntToStr(year);
    const std::string shortYear = yearDigits.size() > 2 ? yearDigits.substr(2, 2) : std::string();
    return PadTwo(month) + PadTwo(day) + shortYear;
}

std::string TodayMMDDYY() { return DateToMMDDYY(Date()); }

std::string MonthYearStamp() {
    const std::string today = TodayMMDDYY();
    return today.substr(0, 2) + (today.size() > 4 ? today.substr(4, 2) : std::string());
}

std::string AddTrailingBackslash(const std::string& folder) {
    if (folder.empty() || folder.back() == '\\') return folder;
    return folder + "\\";
}

// The separator is "\" when a "/" comes first or there is none but a "\" is
// present; otherwise "/". The cut stops at the separator or at two
// characters, so "C:" and "\\" survive.
std::string PathOfFile(const std::string& path) {
    const std::size_t backslash = Pos("\\", path);
    const std::size_t slash = Pos("/", path);
    const char separator = slash < backslash ? '\\' : '/';
    if (path.find(separator) == std::string::npos) return path;
    std::string folder = path;
    while (folder.size() > 2 && folder.back() != separator) folder.pop_back();
    return folder;
}

std::string ProgramFolder() {
    std::string folder = PathOfFile(ExecutableFileName());
    if (folder.compare(0, LongPathPrefix.size(), LongPathPrefix) == 0)
        folder = folder.substr(LongPathPrefix.size(), MaxFolderAfterPrefix);
    return folder;
}

std::string FileNameOfPath(const std::string& path) {
    std::string name = path;
    for (;;) {
        std::size_t at = name.find('\\');
        if (at == std::string::npos) at = name.find('/');
        if (at == std::string::npos) return name;
        name = name.substr(at + 1, MaxNameStep);
    }
}

std::string StripExtension(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

// Each phase goes on after what it has just put in, so a search text or a
// replacement that contains the marker byte cannot make it run forever; for
// any other text this finds what a search from the start would.
std::string ReplaceText(const std::string& text, const std::string& search, const std::string& replacement,
                        bool all) {
    std::string result = text;
    if (!search.empty()) {
        const std::string needle = LowerCase(search);
        std::size_t from = 0;
        for (;;) {
            const std::size_t at = LowerCase(result).find(needle, from);
            if (at == std::string::npos) break;
            from = Splice(result, at, search.size(), ReplaceMarker);
            if (!all) break;
        }
    }
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = result.find(ReplaceMarker, from);
        if (at == std::string::npos) break;
        from = Splice(result, at, ReplaceMarker.size(), replacement);
        if (!all) break;
    }
    return result;
}
