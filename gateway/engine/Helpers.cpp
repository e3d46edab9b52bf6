// The engine's helpers: file names and drives, the executable's own path,
// text lists, the HTTP date and the environment.
#include "gateway/engine/Helpers.h"

#include <algorithm>

#include "gateway/engine/Limits.h"
#include "platform/Files.h"
#include "platform/Forms.h"
#include "platform/Process.h"
#include "platform/StringList.h"
#include "platform/SysUtils.h"

namespace {
bool IsSeparator(char ch) { return ch == '\\' || ch == '/' || ch == ':'; }

// Index just after the last separator, 0 when there is none.
std::size_t NameStart(std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i)
        if (IsSeparator(path[i - 1])) return i;
    return 0;
}

// One pass: "\.\" becomes "\" and "\\" becomes "\"; reports whether
// anything changed.
bool CollapseOnce(std::string& path) {
    std::string out;
    out.reserve(path.size());
    bool changed = false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '\\' && i + 2 < path.size() && path[i + 1] == '.' && path[i + 2] == '\\') {
            i += 1;  // the full stop and one backslash go
            changed = true;
        } else if (path[i] == '\\' && i + 1 < path.size() && path[i + 1] == '\\') {
            changed = true;  // one backslash of the pair goes
            continue;
        } else {
            out += path[i];
        }
    }
    path = std::move(out);
    return changed;
}

// Until neither sequence occurs.
std::string CollapseSeparators(std::string path) {
    while (CollapseOnce(path)) {
    }
    return path;
}

}  // namespace

std::string PathFolder(const std::string& path) {
    const std::size_t start = NameStart(path);
    return start == 0 ? std::string() : path.substr(0, start - 1);
}

std::string PathName(const std::string& path) { return path.substr(NameStart(path)); }

std::string ComposeFileName(const std::string& basePath, const std::string& dir, bool takeBaseName,
                            const std::string& fileName, bool takeBaseExt, const std::string& ext) {
    // A file name with a drive is taken as it stands.
    if (HasDrive(fileName)) return fileName;
    // The folder: basePath's, unless dir has a drive of its own.
    std::string folder;
    if (!HasDrive(dir)) {
        folder.append(basePath, 0, NameStart(basePath));
        folder += '\\';
    }
    folder += dir;
    folder += '\\';
    // Name and extension from basePath, where asked for.
    std::string name;
    std::string extension;
    const std::string baseName = basePath.substr(NameStart(basePath));
    const std::size_t baseDot = baseName.find('.');
    if ((takeBaseName || takeBaseExt) && baseDot != std::string::npos) {
        if (takeBaseName) name = baseName.substr(0, baseDot);
        if (takeBaseExt) extension = baseName.substr(baseDot + 1);
    }
    // fileName adds its name, and its extension unless ext is given.
    const std::size_t dot = fileName.find('.');
    if (dot == std::string::npos) {
        name += fileName;
    } else {
        name += fileName.substr(0, dot);
        if (ext.empty()) extension += fileName.substr(dot + 1);
    }
    // Put together, with "\\" and "\.\" collapsed to one separator.
    extension += ext;
    folder += name;
    folder += '.';
    folder += extension;
    return CollapseSeparators(std::move(folder));
}

std::string ExecutableFileName() { return RunningAsLibrary ? ModuleFileName() : ParamStr(0); }

int FindFileInfo(const std::string& path, int attributes, TSearchRec& info) {
    TSearchRec found;
    const int result = FindFirst(path, attributes, found);
    if (result == 0) {
        info.Time = found.Time;
        info.Size = found.Size;
        info.Attr = found.Attr;
        info.Name = found.Name;
        info.ExcludeAttr = found.ExcludeAttr;
    }
    FindClose(found);
    return result;
}

std::unique_ptr<TStringList> TextToStringList(std::string_view text) {
    auto list = std::make_unique<TStringList>();
    list->SetText(text);
    return list;
}

namespace {
std::string TwoDigits(int value) {
    std::string text = IntToStr(value);
    return text.size() < 2 ? "0" + text : text;
}
}  // namespace

std::string FormatHttpDate(TDateTime dateTime) {
    // To UTC by the zone's present offset.
    TTimeZoneInformation zone;
    const int state = GetTimeZoneInformation(zone);
    int offset = zone.Bias + zone.StandardBias;
    if (state == TIME_ZONE_ID_DAYLIGHT) offset += zone.DaylightBias;
    const TDateTime utc = dateTime + offset / 1440.0;
    // Names that do not depend on the locale.
    static const std::string days = "SunMonTueWedThuFriSat";
    static const std::string months = "JanFebMarAprMayJunJulAugSepOctNovDec";
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
    DecodeDate(utc, year, month, day);
    DecodeTime(utc, hour, minute, second, msec);
    // Kept within the name tables even for a date-time no calendar holds.
    const int weekDay = ((DayOfWeek(utc) - 1) % 7 + 7) % 7;
    month = std::clamp(month, 1, 12);
    std::string yearText = IntToStr(year);
    while (yearText.size() < 4) yearText = "0" + yearText;
    return days.substr(static_cast<std::size_t>(weekDay) * 3, 3) + ", " + TwoDigits(day) + " " +
           months.substr(static_cast<std::size_t>(month - 1) * 3, 3) + " " + yearText + " " + TwoDigits(hour) + ":" +
           TwoDigits(minute) + ":" + TwoDigits(second) + " GMT";
}

std::string GetEnvVariable(const std::string& name) {
    if (name.empty() || name.size() > EngineLimits::EnvironmentNameMax) return {};
    std::string value = GetEnv(name);
    if (value.size() > EngineLimits::EnvironmentValueMax) return {};
    // A server whose software text holds "ZB" is treated as no server.
    if (name == "SERVER_SOFTWARE" && value.find("ZB") != std::string::npos) return {};
    return value;
}

std::string ReplaceChar(char from, char to, std::string_view text) {
    std::string result(text);
    std::replace(result.begin(), result.end(), from, to);
    return result;
}

bool HasDrive(std::string_view path) {
    if (!path.empty() && (path[0] == '\\' || path[0] == '/')) return true;
    return path.size() >= 3 && path[1] == ':' && path[2] == '\\';
}

// On this host a rooted path ("\..." or "/...") counts as having its drive,
// and there is no system drive letter to add: a relative path stays relative.
std::string AddSystemDrive(const std::string& path) { return path; }
