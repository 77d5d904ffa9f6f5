// Date-times as the toolkit keeps them: a double counting days since 1899-12-30 00:00 in local
// time, the fraction being the time of day. Negative values count days before 1899-12-30 with
// the fraction still adding time forward (-1.25 is 1899-12-29 06:00). Conversions to and from UTC
// and FILETIME use the operating system's time zone (TZ).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velqor {

inline constexpr double kUnixEpochDays = 25569.0;  // 1970-01-01 00:00
inline constexpr double kMsPerDay = 86400000.0;

struct DateTimeParts {
    int Year = 1899, Month = 12, Day = 30;
    int Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

// False when a field is out of range (month 13, 30 February, hour 24, ...).
bool TryEncodeDateTime(const DateTimeParts& p, double& out);
// Raises velqor::Exception "invalid date-time" on out-of-range fields.
double EncodeDateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                      int millisecond = 0);
// Splits a date-time, rounding to the nearest millisecond.
DateTimeParts DecodeDateTime(double dt);
bool IsLeapYear(int year);
// Milliseconds since 1899-12-30 00:00 of a date-time and back (the fraction always runs forward,
// also before 1899-12-30), for exact arithmetic on date-times.
int64_t DateTimeToMs(double dt);
double DateTimeFromMs(int64_t ms);
int DaysInMonth(int year, int month);

// The current local date-time.
double Now();
// The local date-time of a UTC one and back, with the zone's rules at that moment.
double UtcToLocal(double utc);
double LocalToUtc(double local);
// FILETIME: 100-ns intervals since 1601-01-01 UTC.
double FileTimeToLocal(uint64_t fileTime);
uint64_t LocalToFileTime(double local);
double UnixSecondsToLocal(double unixSeconds);
double LocalToUnixSeconds(double local);

// Minutes to add to local time to get UTC, as in force now (UTC minus local).
int LocalTimeZoneBias();
// The same for a given local date-time, with the zone's rules at that date (daylight saving).
int LocalTimeZoneBiasAt(double local);

// "YYYY-MM-DD HH:MM:SS[.mmm]"; the date alone at midnight, the time alone on day 0.
std::string FormatDateTimeText(double dt);
// The time of day "HH:MM:SS".
std::string FormatTimeText(double dt);
// Reads what FormatDateTimeText writes, also with "T" between date and time, or a time alone;
// a date and time may end with a zone ("Z", "+02:00", "-0530"), then it is read into local time.
bool ParseDateTimeText(std::string_view text, double& out);
// One fixed ISO 8601 form for machines: "2026-01-01T00:00:00.000+01:00", with milliseconds and
// the local offset in force at that date-time.
std::string FormatDateTimeIso(double dt);

}  // namespace velqor
