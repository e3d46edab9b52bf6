// The free routines: the calling thread's request, text helpers, the HTTP
// date and the environment.
#include <algorithm>

#include "gateway/engine/HttpEng.h"
#include "platform/Process.h"
#include "platform/SysUtils.h"

void HttpWrite(std::string_view Text) {
    if (THttpEngine* engine = RequestContext.CurrentEngine) engine->WriteLn(Text);
}

void HttpSendHeader() {
    if (THttpEngine* engine = RequestContext.CurrentEngine) engine->SendHeader();
}

std::string HttpServerVariable(const std::string& name) {
    THttpEngine* engine = RequestContext.CurrentEngine;
    return engine != nullptr ? engine->ServerVariable(name) : std::string();
}

std::string HttpFieldValue(const std::string& name, const std::string& Default) {
    THttpEngine* engine = RequestContext.CurrentEngine;
    return engine != nullptr ? engine->FieldValue(name, Default) : Default;
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
    // 1. To UTC by the zone's present offset.
    TTimeZoneInformation zone;
    const int state = GetTimeZoneInformation(zone);
    int offset = zone.Bias + zone.StandardBias;
    if (state == TIME_ZONE_ID_DAYLIGHT) offset += zone.DaylightBias;
    const TDateTime utc = DateTime + offset / 1440.0;
    // 2. Names that do not depend on the locale.
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
    constexpr std::size_t NameLimit = 255;
    constexpr std::size_t ValueLimit = 4095;
    if (name.empty() || name.size() > NameLimit) return {};
    std::string value = GetEnv(name);
    if (value.size() > ValueLimit) return {};
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
