// Date-time helpers: the day-count form, its text, and conversions through the time zone,
// with the zone pinned by TZ (POSIX rules, so no zone database is needed).
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "contract/VelqorDateTime.h"
#include "runtime/Exception.h"

namespace velqor {
namespace {

class PinnedZone {
  public:
    explicit PinnedZone(const char* tz) {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~PinnedZone() {
        if (had_) {
            setenv("TZ", old_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

  private:
    bool had_ = false;
    std::string old_;
};

constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr const char* kNewYork = "EST5EDT,M3.2.0,M11.1.0";

TEST(DateTime, DayCountsAndTheirParts) {
    EXPECT_EQ(EncodeDateTime(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDateTime(1970, 1, 1), kUnixEpochDays);
    EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6), -1.25)
        << "before the epoch the time still runs forward";
    EXPECT_EQ(EncodeDateTime(2000, 1, 1, 12), 36526.5);
    DateTimeParts p = DecodeDateTime(-1.25);
    EXPECT_EQ(p.Year, 1899);
    EXPECT_EQ(p.Day, 29);
    EXPECT_EQ(p.Hour, 6);
    p = DecodeDateTime(EncodeDateTime(2024, 2, 29, 23, 59, 59, 999));
    EXPECT_EQ(p.Month, 2);
    EXPECT_EQ(p.Day, 29);
    EXPECT_EQ(p.Millisecond, 999);
    p = DecodeDateTime(1.0 - 1e-12);  // rounds to the next midnight, never to 24:00
    EXPECT_EQ(p.Day, 31);
    EXPECT_EQ(p.Hour, 0);
    double out;
    EXPECT_FALSE(TryEncodeDateTime({2023, 2, 29}, out));
    EXPECT_FALSE(TryEncodeDateTime({2024, 13, 1}, out));
    EXPECT_FALSE(TryEncodeDateTime({2024, 1, 1, 24}, out));
    EXPECT_THROW(EncodeDateTime(1900, 2, 29), Exception);
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_FALSE(IsLeapYear(1900));
}

TEST(DateTime, TextFormsRoundTrip) {
    const double samples[] = {0, 0.5, EncodeDateTime(2024, 3, 1),
                              EncodeDateTime(2024, 3, 1, 7, 8, 9, 10),
                              EncodeDateTime(1850, 6, 15, 1, 2, 3)};
    for (double dt : samples) {
        double back = -99;
        ASSERT_TRUE(ParseDateTimeText(FormatDateTimeText(dt), back)) << FormatDateTimeText(dt);
        EXPECT_DOUBLE_EQ(back, dt) << FormatDateTimeText(dt);
    }
    double v;
    EXPECT_TRUE(ParseDateTimeText("2024-03-01T10:20:30.5", v));
    EXPECT_EQ(DecodeDateTime(v).Millisecond, 500);
    EXPECT_TRUE(ParseDateTimeText("10:20", v));
    EXPECT_DOUBLE_EQ(v, (10 * 60 + 20) / 1440.0);
    EXPECT_FALSE(ParseDateTimeText("2024-03-01 10", v));
    EXPECT_FALSE(ParseDateTimeText("2024-03-01x", v));
    EXPECT_FALSE(ParseDateTimeText("10:20:", v));
    EXPECT_EQ(FormatTimeText(EncodeDateTime(2024, 3, 1, 7, 8, 9)), "07:08:09");
}

TEST(DateTime, UtcAndFileTimeUnderPinnedZones) {
    {
        PinnedZone zone("UTC0");
        EXPECT_EQ(FileTimeToLocal(116444736000000000ULL), kUnixEpochDays);
        EXPECT_EQ(LocalToFileTime(kUnixEpochDays), 116444736000000000ULL);
        EXPECT_EQ(LocalTimeZoneBias(), 0);
        double t = EncodeDateTime(2024, 7, 1, 12, 0, 0, 250);
        EXPECT_DOUBLE_EQ(UtcToLocal(t), t);
        EXPECT_DOUBLE_EQ(LocalToUtc(t), t);
    }
    {
        PinnedZone zone(kBerlin);
        EXPECT_DOUBLE_EQ(LocalToUtc(EncodeDateTime(2024, 1, 15, 12)),
                         EncodeDateTime(2024, 1, 15, 11));
        EXPECT_DOUBLE_EQ(LocalToUtc(EncodeDateTime(2024, 7, 15, 12)),
                         EncodeDateTime(2024, 7, 15, 10));
        EXPECT_DOUBLE_EQ(UtcToLocal(EncodeDateTime(2024, 3, 31, 0, 59, 59)),
                         EncodeDateTime(2024, 3, 31, 1, 59, 59));
        EXPECT_DOUBLE_EQ(UtcToLocal(EncodeDateTime(2024, 3, 31, 1)),
                         EncodeDateTime(2024, 3, 31, 3));
        EXPECT_DOUBLE_EQ(UtcToLocal(EncodeDateTime(2024, 10, 27, 0, 30)),
                         EncodeDateTime(2024, 10, 27, 2, 30));
        EXPECT_DOUBLE_EQ(UtcToLocal(EncodeDateTime(2024, 10, 27, 1, 30)),
                         EncodeDateTime(2024, 10, 27, 2, 30));
        // FILETIME of the Unix epoch is 01:00 local in winter time.
        EXPECT_DOUBLE_EQ(FileTimeToLocal(116444736000000000ULL), EncodeDateTime(1970, 1, 1, 1));
        EXPECT_EQ(LocalToFileTime(EncodeDateTime(1970, 1, 1, 1)), 116444736000000000ULL);
        // Round trips through UTC and FILETIME keep milliseconds.
        double t = EncodeDateTime(2024, 7, 1, 12, 34, 56, 789);
        EXPECT_DOUBLE_EQ(UtcToLocal(LocalToUtc(t)), t);
        EXPECT_DOUBLE_EQ(FileTimeToLocal(LocalToFileTime(t)), t);
        EXPECT_DOUBLE_EQ(UnixSecondsToLocal(LocalToUnixSeconds(t)), t);
    }
    {
        PinnedZone zone(kNewYork);
        EXPECT_DOUBLE_EQ(LocalToUtc(EncodeDateTime(2024, 7, 4, 20)), EncodeDateTime(2024, 7, 5, 0));
        EXPECT_DOUBLE_EQ(UtcToLocal(EncodeDateTime(1960, 1, 1, 5)), EncodeDateTime(1960, 1, 1))
            << "dates before the Unix epoch";
        time_t now = time(nullptr);
        std::tm tm{};
        localtime_r(&now, &tm);
        EXPECT_EQ(LocalTimeZoneBias(), tm.tm_isdst > 0 ? 240 : 300);
        // The bias at a given date follows the zone's rules then, not now.
        EXPECT_EQ(LocalTimeZoneBiasAt(EncodeDateTime(2026, 1, 15, 12)), 300);
        EXPECT_EQ(LocalTimeZoneBiasAt(EncodeDateTime(2026, 7, 15, 12)), 240);
    }
}

TEST(DateTime, NowIsTheLocalClock) {
    PinnedZone zone("UTC0");
    double before = UnixSecondsToLocal(double(time(nullptr)));
    double now = Now();
    EXPECT_GE(now, before - 1.0 / 86400);
    EXPECT_LE(now, before + 5.0 / 86400);
}

}  // namespace
}  // namespace velqor
