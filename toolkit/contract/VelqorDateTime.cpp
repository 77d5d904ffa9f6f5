#include "VelqorDateTime.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "runtime/Exception.h"

namespace velqor {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = int64_t(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yy + (m <= 2));
}

}  // namespace

// Total milliseconds since 1899-12-30 of a date-time value (day part and time part split by
// the convention that the fraction always runs forward).
int64_t DateTimeToMs(double dt) {
    double day = std::trunc(dt);
    double frac = std::fabs(dt - day);
    int64_t ms = int64_t(std::llround(frac * kMsPerDay));
    return int64_t(day) * 86400000LL + ms;
}

double DateTimeFromMs(int64_t total) {
    int64_t day = total / 86400000LL;
    int64_t rem = total % 86400000LL;
    if (rem < 0) {
        day -= 1;
        rem += 86400000LL;
    }
    // Days before 1899-12-30 carry a negative integer part and a positive time fraction.
    double frac = double(rem) / kMsPerDay;
    return day >= 0 ? double(day) + frac : double(day) - frac;
}

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12) return 0;
    return m == 2 && IsLeapYear(y) ? 29 : days[m - 1];
}

bool TryEncodeDateTime(const DateTimeParts& p, double& out) {
    if (p.Year < 1 || p.Year > 9999 || p.Month < 1 || p.Month > 12 || p.Day < 1 ||
        p.Day > DaysInMonth(p.Year, p.Month) || p.Hour < 0 || p.Hour > 23 || p.Minute < 0 ||
        p.Minute > 59 || p.Second < 0 || p.Second > 59 || p.Millisecond < 0 || p.Millisecond > 999)
        return false;
    int64_t days = DaysFromCivil(p.Year, unsigned(p.Month), unsigned(p.Day)) + 25569;
    int64_t ms = ((int64_t(p.Hour) * 60 + p.Minute) * 60 + p.Second) * 1000 + p.Millisecond;
    out = DateTimeFromMs(days * 86400000LL + ms);
    return true;
}

double EncodeDateTime(int year, int month, int day, int hour, int minute, int second, int ms) {
    double out;
    if (!TryEncodeDateTime({year, month, day, hour, minute, second, ms}, out))
        throw Exception("invalid date-time");
    return out;
}

DateTimeParts DecodeDateTime(double dt) {
    DateTimeParts p;
    if (!std::isfinite(dt)) return p;
    int64_t total = DateTimeToMs(dt);
    int64_t day = total / 86400000LL, rem = total % 86400000LL;
    if (rem < 0) {
        day -= 1;
        rem += 86400000LL;
    }
    CivilFromDays(day - 25569, p.Year, p.Month, p.Day);
    p.Millisecond = int(rem % 1000);
    rem /= 1000;
    p.Second = int(rem % 60);
    rem /= 60;
    p.Minute = int(rem % 60);
    p.Hour = int(rem / 60);
    return p;
}

namespace {
// UTC offset in seconds in force at a Unix time. localtime_r reads the zone without re-reading
// TZ (mktime re-reads it on every call, which races with other threads converting times).
long GmtOffsetAt(time_t t) {
    std::tm tm{};
#ifdef _WIN32
    // No offset field there: the local wall time read back as UTC, less the instant.
    localtime_s(&tm, &t);
    return long(_mkgmtime(&tm) - t);
#else
    localtime_r(&t, &tm);
    return tm.tm_gmtoff;
#endif
}
}  // namespace

double UnixSecondsToLocal(double unixSeconds) {
    // The instant plus the zone's offset at that instant, in whole milliseconds; also outside
    // the years 1 to 9999 (an instant near an edge moved by the zone offset stays that instant).
    if (!std::isfinite(unixSeconds) || std::fabs(unixSeconds) > 1e15) return 0;
    const double whole = std::floor(unixSeconds);
    const int64_t ms = int64_t(std::llround((unixSeconds - whole) * 1000.0));
    const time_t t = time_t(whole);
    const int64_t local = (int64_t(t) + GmtOffsetAt(t)) * 1000 + ms;
    return DateTimeFromMs(local + int64_t(25569) * 86400000LL);
}

double LocalToUnixSeconds(double local) {
    DateTimeParts p = DecodeDateTime(local);
    // The local wall time read as if it were UTC, then corrected by the offset in force at the
    // resulting moment; the second step settles times near a daylight-saving change.
    const int64_t wall =
        (DaysFromCivil(p.Year, unsigned(p.Month), unsigned(p.Day)) * 24 + p.Hour) * 3600 +
        int64_t(p.Minute) * 60 + p.Second;
    time_t t = time_t(wall - GmtOffsetAt(time_t(wall)));
    t = time_t(wall - GmtOffsetAt(t));
    return double(t) + p.Millisecond / 1000.0;
}

double Now() {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    double secs =
        double(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) / 1000.0;
    return UnixSecondsToLocal(secs);
}

double UtcToLocal(double utc) {
    return UnixSecondsToLocal(double(DateTimeToMs(utc) - int64_t(25569) * 86400000LL) / 1000.0);
}

double LocalToUtc(double local) {
    double secs = LocalToUnixSeconds(local);
    int64_t ms = int64_t(std::llround(secs * 1000.0)) + int64_t(25569) * 86400000LL;
    return DateTimeFromMs(ms);
}

// FILETIME epoch 1601-01-01 is 11644473600 s before the Unix epoch.
static constexpr int64_t kFileTimeUnixDelta100ns = 116444736000000000LL;

double FileTimeToLocal(uint64_t fileTime) {
    int64_t ticks = int64_t(fileTime) - kFileTimeUnixDelta100ns;
    return UnixSecondsToLocal(double(ticks / 10000) / 1000.0);
}

uint64_t LocalToFileTime(double local) {
    double secs = LocalToUnixSeconds(local);
    int64_t ms = int64_t(std::llround(secs * 1000.0));
    return uint64_t(ms * 10000 + kFileTimeUnixDelta100ns);
}

int LocalTimeZoneBias() { return int(-GmtOffsetAt(time(nullptr)) / 60); }

int LocalTimeZoneBiasAt(double local) {
    // The wall time in milliseconds since the Unix epoch (exact also before 1899-12-30, where
    // the fraction runs forward) against the instant it stands for.
    const double wallMs = double(DateTimeToMs(local) - int64_t(25569) * 86400000LL);
    return int(std::llround((LocalToUnixSeconds(local) * 1000.0 - wallMs) / 60000.0));
}

std::string FormatDateTimeText(double dt) {
    DateTimeParts p = DecodeDateTime(dt);
    char buf[64];
    bool hasTime = p.Hour || p.Minute || p.Second || p.Millisecond;
    bool hasDate = std::trunc(dt) != 0.0 || !hasTime;
    int n = 0;
    if (hasDate) n += std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", p.Year, p.Month, p.Day);
    if (hasTime) {
        n += std::snprintf(buf + n, sizeof buf - size_t(n), "%s%02d:%02d:%02d", hasDate ? " " : "",
                           p.Hour, p.Minute, p.Second);
        if (p.Millisecond) std::snprintf(buf + n, sizeof buf - size_t(n), ".%03d", p.Millisecond);
    }
    return buf;
}

std::string FormatTimeText(double dt) {
    DateTimeParts p = DecodeDateTime(dt);
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.Hour, p.Minute, p.Second);
    return buf;
}

bool ParseDateTimeText(std::string_view text, double& out) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    DateTimeParts p;
    size_t pos = 0;
    auto num = [&](int digits, int& v) {
        if (pos + size_t(digits) > text.size()) return false;
        v = 0;
        for (int i = 0; i < digits; ++i) {
            char c = text[pos + size_t(i)];
            if (c < '0' || c > '9') return false;
            v = v * 10 + (c - '0');
        }
        pos += size_t(digits);
        return true;
    };
    auto lit = [&](char c) {
        if (pos < text.size() && text[pos] == c) {
            ++pos;
            return true;
        }
        return false;
    };
    bool dateOnly = false;
    if (text.size() >= 10 && text[4] == '-') {
        if (!num(4, p.Year) || !lit('-') || !num(2, p.Month) || !lit('-') || !num(2, p.Day))
            return false;
        if (pos == text.size())
            dateOnly = true;
        else if (!lit(' ') && !lit('T'))
            return false;
    } else {
        p.Year = 1899, p.Month = 12, p.Day = 30;
    }
    if (!dateOnly) {
        if (!num(2, p.Hour) || !lit(':') || !num(2, p.Minute)) return false;
        if (lit(':')) {
            if (!num(2, p.Second)) return false;
            if (lit('.')) {
                size_t start = pos;
                int ms = 0, digits = 0;
                while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
                    if (digits < 3) ms = ms * 10 + (text[pos] - '0');
                    ++digits;
                    ++pos;
                }
                if (pos == start) return false;
                for (int i = digits; i < 3; ++i) ms *= 10;
                p.Millisecond = ms;
            }
        }
    }
    // A zone ("Z", "+02:00", "-0530") makes the text an instant, read into local time.
    bool zoned = false;
    int offsetMinutes = 0;
    if (!dateOnly && pos < text.size()) {
        if (lit('Z')) {
            zoned = true;
        } else if (text[pos] == '+' || text[pos] == '-') {
            const int sign = text[pos] == '-' ? -1 : 1;
            ++pos;
            int hh = 0, mm = 0;
            if (!num(2, hh)) return false;
            lit(':');
            if (!num(2, mm) || hh > 14 || mm > 59 || (hh == 14 && mm != 0)) return false;
            zoned = true;
            offsetMinutes = sign * (hh * 60 + mm);
        }
    }
    if (pos != text.size()) return false;
    double wall;
    if (!TryEncodeDateTime(p, wall)) return false;
    if (!zoned) {
        out = wall;
        return true;
    }
    const double utc = DateTimeFromMs(DateTimeToMs(wall) - int64_t(offsetMinutes) * 60000);
    out = UtcToLocal(utc);
    return true;
}

std::string FormatDateTimeIso(double dt) {
    const DateTimeParts p = DecodeDateTime(dt);
    const int east = -LocalTimeZoneBiasAt(dt);  // minutes east of UTC
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", p.Year, p.Month,
                  p.Day, p.Hour, p.Minute, p.Second, p.Millisecond, east < 0 ? '-' : '+',
                  std::abs(east) / 60, std::abs(east) % 60);
    return buf;
}

}  // namespace velqor
