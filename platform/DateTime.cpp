#include "platform/DateTime.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/Exception.h"

// Local conversions read the zone that the C library loaded at its first
// use; a process that changes TZ afterwards calls tzset (the zone is not
// re-read on every conversion, which would cost a file check each time).
// GetTimeZoneInformation and LocalDateTimeToUnix (through mktime) re-read it.

namespace {
// Day 0 of the date-time is 1899-12-30, 25569 days before the Unix epoch.
constexpr long long UnixEpochDay = 25569;
constexpr long long MSecsPerDayInt = 86400000;

// Days from 1970-01-01 of a proleptic Gregorian date, and back.
long long DaysFromCivil(long long y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void CivilFromDays(long long z, int& year, int& month, int& day) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(era * 400 + yoe + (month <= 2));
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// A date-time as whole days and milliseconds of the day, rounded to the
// millisecond as a whole (23:59:59.9996 is the next midnight). Before day 0
// the fraction still counts forward from midnight: -1.25 is 1899-12-29 06:00.
struct TSplit {
    long long Day;
    long long MSec;
};

TSplit Split(TDateTime value) {
    const long long total = std::llround(value * MSecsPerDay);
    return {total / MSecsPerDayInt, std::llabs(total) % MSecsPerDayInt};
}

TDateTime Combine(long long day, double fractionOfDay) {
    return day >= 0 ? static_cast<double>(day) + fractionOfDay : static_cast<double>(day) - fractionOfDay;
}

double UnixNow() {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

void FillSystemTime(const struct tm& parts, int milliseconds, TSystemTime& time) {
    time.Year = parts.tm_year + 1900;
    time.Month = parts.tm_mon + 1;
    time.Day = parts.tm_mday;
    time.DayOfWeek = parts.tm_wday;
    time.Hour = parts.tm_hour;
    time.Minute = parts.tm_min;
    time.Second = parts.tm_sec;
    time.Milliseconds = milliseconds;
}

template <class Convert>
void CurrentSystemTime(TSystemTime& time, Convert convert) {
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm parts {};
    convert(&now.tv_sec, &parts);
    FillSystemTime(parts, static_cast<int>(now.tv_nsec / 1000000), time);
}

// Minutes to add to local time to get UTC at the moment t.
int BiasAt(time_t t, bool& daylight) {
    struct tm parts {};
    localtime_r(&t, &parts);
    daylight = parts.tm_isdst > 0;
    return static_cast<int>(-parts.tm_gmtoff / 60);
}

std::string TwoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}
}  // namespace

TDateTime UnixToLocalDateTime(double unixSeconds) {
    const double whole = std::floor(unixSeconds);
    const auto t = static_cast<time_t>(whole);
    struct tm parts {};
    localtime_r(&t, &parts);
    const long long day = DaysFromCivil(parts.tm_year + 1900LL, parts.tm_mon + 1, parts.tm_mday) + UnixEpochDay;
    const double seconds = parts.tm_hour * 3600.0 + parts.tm_min * 60.0 + parts.tm_sec + (unixSeconds - whole);
    return Combine(day, seconds / 86400.0);
}

// A local time that falls in the hour skipped by a change to daylight
// saving time, or occurs twice at the change back, is resolved as mktime
// resolves it.
double LocalDateTimeToUnix(TDateTime value) {
    const long long micros = std::llround(value * 86400e6);
    const long long microsPerDay = 86400000000LL;
    const long long day = micros / microsPerDay;
    const long long ofDay = std::llabs(micros) % microsPerDay;
    int year = 0, month = 0, dayOfMonth = 0;
    CivilFromDays(day - UnixEpochDay, year, month, dayOfMonth);
    struct tm parts {};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = dayOfMonth;
    const long long seconds = ofDay / 1000000;
    parts.tm_hour = static_cast<int>(seconds / 3600);
    parts.tm_min = static_cast<int>(seconds / 60 % 60);
    parts.tm_sec = static_cast<int>(seconds % 60);
    parts.tm_isdst = -1;
    const time_t t = mktime(&parts);
    return static_cast<double>(t) + static_cast<double>(ofDay % 1000000) / 1e6;
}

TDateTime Now() { return UnixToLocalDateTime(UnixNow()); }

TDateTime Date() { return std::floor(Now()); }

void GetLocalTime(TSystemTime& time) { CurrentSystemTime(time, localtime_r); }

void GetSystemTime(TSystemTime& time) { CurrentSystemTime(time, gmtime_r); }

// The standard and daylight offsets are found by sampling the year that
// follows the moment, since the C library names only the offset in force at a given moment.
int GetTimeZoneInformation(TTimeZoneInformation& info) {
    return GetTimeZoneInformationAt(static_cast<double>(time(nullptr)), info);
}

int GetTimeZoneInformationAt(double unixSeconds, TTimeZoneInformation& info) {
    tzset();
    const auto now = static_cast<time_t>(std::floor(unixSeconds));
    bool daylightNow = false;
    const int biasNow = BiasAt(now, daylightNow);
    int standard = biasNow;
    int daylightBias = biasNow;
    bool seenStandard = !daylightNow;
    bool seenDaylight = daylightNow;
    for (int week = 1; week <= 53 && !(seenStandard && seenDaylight); ++week) {
        bool isDaylight = false;
        const int bias = BiasAt(now + static_cast<time_t>(week) * 7 * 86400, isDaylight);
        if (isDaylight && !seenDaylight) {
            daylightBias = bias;
            seenDaylight = true;
        } else if (!isDaylight && !seenStandard) {
            standard = bias;
            seenStandard = true;
        }
    }
    info.Bias = standard;
    info.StandardBias = 0;
    info.DaylightBias = seenDaylight ? daylightBias - standard : 0;
    if (!seenDaylight || !seenStandard) return TIME_ZONE_ID_UNKNOWN;
    return daylightNow ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

std::uint32_t GetTickCount() {
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

TDateTime EncodeDate(int year, int month, int day) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        throw Exception("Invalid argument to date encode");
    return static_cast<double>(DaysFromCivil(year, month, day) + UnixEpochDay);
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
        throw Exception("Invalid argument to time encode");
    return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / MSecsPerDay;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    CivilFromDays(Split(value).Day - UnixEpochDay, year, month, day);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
    const long long ms = Split(value).MSec;
    hour = static_cast<int>(ms / 3600000);
    minute = static_cast<int>(ms / 60000 % 60);
    second = static_cast<int>(ms / 1000 % 60);
    msec = static_cast<int>(ms % 1000);
}

int DayOfWeek(TDateTime value) {
    // Day 0 was a Saturday.
    const long long weekday = ((Split(value).Day % 7) + 7) % 7;
    return weekday == 0 ? 7 : static_cast<int>(weekday);
}

std::string DateToStr(TDateTime value) {
    int year = 0, month = 0, day = 0;
    DecodeDate(value, year, month, day);
    char text[32];
    std::snprintf(text, sizeof text, "%d/%d/%04d", month, day, year);
    return text;
}

std::string TimeToStr(TDateTime value) {
    int hour = 0, minute = 0, second = 0, msec = 0;
    DecodeTime(value, hour, minute, second, msec);
    const int clock = hour % 12 == 0 ? 12 : hour % 12;
    return std::to_string(clock) + ":" + TwoDigits(minute) + ":" + TwoDigits(second) + (hour < 12 ? " AM" : " PM");
}

std::string DateTimeToStr(TDateTime value) { return DateToStr(value) + " " + TimeToStr(value); }
