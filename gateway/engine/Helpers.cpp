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

std::string ComposeFileName(const std::string& BasePath, const std::string& Dir, bool TakeBaseName,
                            const std::string& FileName, bool TakeBaseExt, const std::string& Ext) {
    // A file name with a drive is taken as it stands.
    if (HasDrive(FileName)) return FileName;
    // The folder: BasePath's, unless Dir has a drive of its own.
    std::string folder;
    if (!HasDrive(Dir)) {
        folder.append(BasePath, 0, NameStart(BasePath));
        folder += '\\';
    }
    folder += Dir;
    folder += '\\';
    // Name and extension from BasePath, where asked for.
    std::string name;
    std::string extension;
    const std::string baseName = BasePath.substr(NameStart(BasePath));
    const std::size_t baseDot = baseName.find('.');
    if ((TakeBaseName || TakeBaseExt) && baseDot != std::string::npos) {
        if (TakeBaseName) name = baseName.substr(0, baseDot);
        if (TakeBaseExt) extension = baseName.substr(baseDot + 1);
    }
    // FileName adds its name, and its extension unless Ext is given.
    const std::size_t dot = FileName.find('.');
    if (dot == std::string::npos) {
        name += FileName;
    } else {
        name += FileName.substr(0, dot);
        if (Ext.empty()) extension += FileName.substr(dot + 1);
    }
    // Put together, with "\\" and "\.\" collapsed to one separator.
    extension += Ext;
    folder += name;
    folder += '.';
    folder += extension;
    return CollapseSeparators(std::move(folder));
}

std::string ExecutableFileName() { return RunningAsLibrary ? ModuleFileName() : ParamStr(0); }

int FindFileInfo(const std::string& Path, int Attributes, TSearchRec& Info) {
    TSearchRec found;
    const int result = FindFirst(Path, Attributes, found);
    if (result == 0) {
        Info.Time = found.Time;
        Info.Size = found.Size;
        Info.Attr = found.Attr;
        Info.Name = found.Name;
        Info.ExcludeAttr = found.ExcludeAttr;
    }
    FindClose(found);
    return result;
}

std::unique_ptr<TStringList> TextToStringList(std::string_view Text) {
    auto list = std::make_unique<TStringList>();
    list->SetText(Text);
    return list;
}

namespace {
std::string TwoDigits(int value) {
    std::string text = IntToStr(value);
    return text.size() < 2 ? "0" + text : text;
}
}  // namespace

std::string FormatHttpDate(TDateTime DateTime) {
    // To UTC by the zone's present offset.
    TTimeZoneInformation zone;
    const int state = GetTimeZoneInformation(zone);
    int offset = zone.Bias + zone.StandardBias;
    if (state == TIME_ZONE_ID_DAYLIGHT) offset += zone.DaylightBias;
    const TDateTime utc = DateTime + offset / 1440.0;
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

std::string ReplaceChar(char Old, char New, std::string_view Text) {
    std::string result(Text);
    std::replace(result.begin(), result.end(), Old, New);
    return result;
}

bool HasDrive(std::string_view Path) {
    if (!Path.empty() && (Path[0] == '\\' || Path[0] == '/')) return true;
    return Path.size() >= 3 && Path[1] == ':' && Path[2] == '\\';
}

// On this host a rooted path ("\..." or "/...") counts as having its drive,
// and there is no system drive letter to add: a relative path stays relative.
std::string AddSystemDrive(const std::string& Path) { return Path; }
