#pragma once
// Date-time as the host encodes it: days since 1899-12-30 as a double, the
// fraction being the time of day. Local time follows TZ.
#include <cstdint>
#include <string>

using TDateTime = double;

constexpr double MSecsPerDay = 86400000.0;
constexpr double OneSecond = 1.0 / 86400.0;

struct TSystemTime {
    int Year = 0, Month = 0, DayOfWeek = 0, Day = 0;  // DayOfWeek: 0 = Sunday
    int Hour = 0, Minute = 0, Second = 0, Milliseconds = 0;
};

// Time-zone information in minutes, signed as the host gives it: UTC = local + bias.
struct TTimeZoneInformation {
    int Bias = 0;
    int StandardBias = 0;
    int DaylightBias = 0;
};
constexpr int TIME_ZONE_ID_UNKNOWN = 0;
constexpr int TIME_ZONE_ID_STANDARD = 1;
constexpr int TIME_ZONE_ID_DAYLIGHT = 2;

TDateTime Now();                       // local
TDateTime Date();                      // local, midnight
void GetLocalTime(TSystemTime& time);
void GetSystemTime(TSystemTime& time); // UTC, with milliseconds
// Fills info for the current zone; returns TIME_ZONE_ID_DAYLIGHT while
// daylight-saving time is in force, else TIME_ZONE_ID_STANDARD (or UNKNOWN
// for a zone without daylight saving).
int GetTimeZoneInformation(TTimeZoneInformation& info);
// The same for the moment unixSeconds instead of now.
int GetTimeZoneInformationAt(double unixSeconds, TTimeZoneInformation& info);
std::uint32_t GetTickCount();          // milliseconds since an arbitrary start

// Raise Exception "Invalid argument to date encode" (years 1 to 9999, real
// calendar days) and "Invalid argument to time encode" (0-23, 0-59, 0-59,
// 0-999). Decoding rounds to the millisecond; before day 0 the fraction
// still counts forward from midnight (-1.25 is 1899-12-29 06:00).
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);
int DayOfWeek(TDateTime value);        // 1 = Sunday ... 7 = Saturday

// Conversions between seconds since the Unix epoch and local date-times.
TDateTime UnixToLocalDateTime(double unixSeconds);
double LocalDateTimeToUnix(TDateTime value);

// United States defaults: short date "M/D/YYYY", long time "h:mm:ss AM".
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value);  // date, blank, time
