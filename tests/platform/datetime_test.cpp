#include "platform/DateTime.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/Exception.h"
#include "platform/Threads.h"

namespace {
// Sets TZ for one test and restores the zone the process had.
class TZoneScope {
public:
    explicit TZoneScope(const char* zone) {
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (old) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TZoneScope() {
        if (hadOld_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    TZoneScope(const TZoneScope&) = delete;
    TZoneScope& operator=(const TZoneScope&) = delete;

private:
    bool hadOld_ = false;
    std::string old_;
};

constexpr double July2026Noon = 1782907200;    // 2026-07-01 12:00:00 UTC
constexpr double January2026Noon = 1768478400; // 2026-01-15 12:00:00 UTC
constexpr double HalfMs = 0.5 / MSecsPerDay;
}  // namespace

TEST(EncodeDate, KnownDays) {
    struct Case {
        int y, m, d;
        double want;
        int weekday;  // 1 = Sunday
    };
    const Case cases[] = {
        {1899, 12, 30, 0, 7},  {1900, 1, 1, 2, 2},        {1970, 1, 1, 25569, 5}, {2000, 1, 1, 36526, 7},
        {2024, 2, 29, 45351, 5}, {2026, 12, 6, 46362, 1}, {1, 1, 1, -693593, 2}, {9999, 12, 31, 2958465, 6},
        {1899, 12, 29, -1, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.y) + "-" + std::to_string(c.m) + "-" + std::to_string(c.d));
        const TDateTime value = EncodeDate(c.y, c.m, c.d);
        EXPECT_EQ(value, c.want);
        EXPECT_EQ(DayOfWeek(value), c.weekday);
        // Before day 0 a time of day is subtracted: -1.75 is 1899-12-29 18:00.
        const TDateTime evening = value < 0 ? value - 0.75 : value + 0.75;
        EXPECT_EQ(DayOfWeek(evening), c.weekday) << "the time of day does not move the day";
        int y = 0, m = 0, d = 0;
        DecodeDate(evening, y, m, d);
        EXPECT_EQ(y * 10000 + m * 100 + d, c.y * 10000 + c.m * 100 + c.d);
    }
}

TEST(EncodeDate, DecodeInvertsEveryDayOverCenturies) {
    int mismatches = 0;
    for (int day = -2000; day < 80000; ++day) {
        int y = 0, m = 0, d = 0;
        DecodeDate(day, y, m, d);
        if (EncodeDate(y, m, d) != day) ++mismatches;
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(EncodeDate, InvalidArgumentsRaise) {
    const int cases[][3] = {{2023, 2, 29}, {2100, 2, 29}, {2024, 13, 1}, {2024, 0, 1}, {2024, 4, 31}, {0, 1, 1}, {2024, 1, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c[0]) + "-" + std::to_string(c[1]) + "-" + std::to_string(c[2]));
        EXPECT_THROW(EncodeDate(c[0], c[1], c[2]), Exception);
    }
    EXPECT_NO_THROW(EncodeDate(2000, 2, 29));
    EXPECT_THROW(EncodeTime(24, 0, 0, 0), Exception);
    EXPECT_THROW(EncodeTime(0, 60, 0, 0), Exception);
    EXPECT_THROW(EncodeTime(0, 0, 0, 1000), Exception);
}

TEST(DecodeTime, RoundsToTheMillisecond) {
    struct Case {
        TDateTime value;
        int h, m, s, ms;
    };
    const Case cases[] = {
        {0.5, 12, 0, 0, 0},
        {EncodeTime(23, 59, 59, 999), 23, 59, 59, 999},
        {EncodeTime(1, 2, 3, 4), 1, 2, 3, 4},
        {46362 + EncodeTime(13, 14, 15, 678), 13, 14, 15, 678},
        {0.9999999999, 0, 0, 0, 0},  // rounds to the next midnight
        {-1.25, 6, 0, 0, 0},         // before day 0 the fraction still counts forward
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        int h = -1, m = -1, s = -1, ms = -1;
        DecodeTime(c.value, h, m, s, ms);
        EXPECT_EQ(h, c.h);
        EXPECT_EQ(m, c.m);
        EXPECT_EQ(s, c.s);
        EXPECT_EQ(ms, c.ms);
    }
    int y = 0, mo = 0, d = 0;
    DecodeDate(0.9999999999, y, mo, d);
    EXPECT_EQ(d, 31) << "rounding carries into the date";
}

TEST(DateToStr, UnitedStatesFormats) {
    struct Case {
        TDateTime value;
        const char* date;
        const char* time;
    };
    const Case cases[] = {
        {EncodeDate(2026, 12, 6) + EncodeTime(0, 0, 0, 0), "12/6/2026", "12:00:00 AM"},
        {EncodeDate(2026, 1, 9) + EncodeTime(0, 5, 9, 0), "1/9/2026", "12:05:09 AM"},
        {EncodeDate(2026, 1, 9) + EncodeTime(11, 59, 59, 0), "1/9/2026", "11:59:59 AM"},
        {EncodeDate(2026, 1, 9) + EncodeTime(12, 0, 0, 0), "1/9/2026", "12:00:00 PM"},
        {EncodeDate(2026, 1, 9) + EncodeTime(13, 5, 9, 0), "1/9/2026", "1:05:09 PM"},
        {EncodeDate(2026, 1, 9) + EncodeTime(23, 59, 59, 400), "1/9/2026", "11:59:59 PM"},
        {EncodeDate(999, 10, 31), "10/31/0999", "12:00:00 AM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.date + std::string(" ") + c.time);
        EXPECT_EQ(DateToStr(c.value), c.date);
        EXPECT_EQ(TimeToStr(c.value), c.time);
        EXPECT_EQ(DateTimeToStr(c.value), std::string(c.date) + " " + c.time);
    }
}

TEST(GetTimeZoneInformation, BiasesOfKnownZones) {
    struct Case {
        const char* zone;
        double moment;
        int bias, daylightBias, result;
    };
    const Case cases[] = {
        {"UTC", July2026Noon, 0, 0, TIME_ZONE_ID_UNKNOWN},
        {"America/New_York", July2026Noon, 300, -60, TIME_ZONE_ID_DAYLIGHT},
        {"America/New_York", January2026Noon, 300, -60, TIME_ZONE_ID_STANDARD},
        {"Australia/Sydney", July2026Noon, -600, -60, TIME_ZONE_ID_STANDARD},
        {"Australia/Sydney", January2026Noon, -600, -60, TIME_ZONE_ID_DAYLIGHT},
        {"Asia/Kolkata", July2026Noon, -330, 0, TIME_ZONE_ID_UNKNOWN},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " at " + std::to_string(c.moment));
        TZoneScope zone(c.zone);
        TTimeZoneInformation info;
        EXPECT_EQ(GetTimeZoneInformationAt(c.moment, info), c.result);
        EXPECT_EQ(info.Bias, c.bias);
        EXPECT_EQ(info.StandardBias, 0);
        EXPECT_EQ(info.DaylightBias, c.daylightBias);
    }
}

TEST(GetTimeZoneInformation, NowAgreesWithLocalClock) {
    TZoneScope zone("America/New_York");
    TTimeZoneInformation info;
    const int result = GetTimeZoneInformation(info);
    const time_t now = time(nullptr);
    struct tm parts {};
    localtime_r(&now, &parts);
    EXPECT_EQ(result, parts.tm_isdst > 0 ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD);
    const int offset = info.Bias + info.StandardBias + (result == TIME_ZONE_ID_DAYLIGHT ? info.DaylightBias : 0);
    EXPECT_EQ(offset, -parts.tm_gmtoff / 60);
}

TEST(UnixToLocalDateTime, FollowsTheZoneAndRoundTrips) {
    struct Case {
        const char* zone;
        double unix;
        TDateTime want;
    };
    const Case cases[] = {
        {"UTC", 0, 25569},
        {"UTC", 1782907200.25, EncodeDate(2026, 7, 1) + EncodeTime(12, 0, 0, 250)},
        {"America/New_York", 1700000000, EncodeDate(2023, 11, 14) + EncodeTime(17, 13, 20, 0)},
        {"America/New_York", July2026Noon + 0.001, EncodeDate(2026, 7, 1) + EncodeTime(8, 0, 0, 1)},
        {"Australia/Sydney", July2026Noon, EncodeDate(2026, 7, 1) + EncodeTime(22, 0, 0, 0)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " " + std::to_string(c.unix));
        TZoneScope zone(c.zone);
        const TDateTime local = UnixToLocalDateTime(c.unix);
        EXPECT_NEAR(local, c.want, HalfMs);
        EXPECT_NEAR(LocalDateTimeToUnix(local), c.unix, 1e-4);
    }
}

TEST(Now, AgreesWithSystemTimeUnderUtc) {
    TZoneScope zone("UTC");
    TSystemTime utc, local;
    GetSystemTime(utc);
    const TDateTime now = Now();
    GetLocalTime(local);
    const TDateTime fromUtc = EncodeDate(utc.Year, utc.Month, utc.Day) +
                              EncodeTime(utc.Hour, utc.Minute, utc.Second, utc.Milliseconds);
    EXPECT_NEAR(now, fromUtc, 2.0 * OneSecond);
    const TDateTime fromLocal = EncodeDate(local.Year, local.Month, local.Day) +
                                EncodeTime(local.Hour, local.Minute, local.Second, local.Milliseconds);
    EXPECT_NEAR(fromLocal, fromUtc, 2.0 * OneSecond);
    EXPECT_EQ(DayOfWeek(now), utc.DayOfWeek + 1);
    EXPECT_EQ(Date(), static_cast<double>(static_cast<long long>(now)));
}

TEST(GetTickCount, MonotonicAndSleepWaitsTheWholeTime) {
    const std::uint32_t before = GetTickCount();
    Sleep(60);
    const std::uint32_t elapsed = GetTickCount() - before;
    EXPECT_GE(elapsed, 60u);
    EXPECT_LT(elapsed, 5000u);
}

namespace {
extern "C" void IgnoreAlarm(int) {}
}  // namespace

TEST(Sleep, SignalDoesNotCutItShort) {
    struct sigaction action {}, old {};
    action.sa_handler = IgnoreAlarm;  // no SA_RESTART: a plain nanosleep would return early
    sigemptyset(&action.sa_mask);
    ASSERT_EQ(sigaction(SIGALRM, &action, &old), 0);
    struct itimerval timer {};
    timer.it_value.tv_usec = 20000;
    timer.it_interval.tv_usec = 20000;
    setitimer(ITIMER_REAL, &timer, nullptr);
    const std::uint32_t before = GetTickCount();
    Sleep(150);
    const std::uint32_t elapsed = GetTickCount() - before;
    struct itimerval off {};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &old, nullptr);
    EXPECT_GE(elapsed, 150u);
}
