#include "soap/VelqorSOAPEncoding.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <istream>
#include <ostream>

namespace velqor {

namespace {

// The date and time parts of a date-time or duration text: before and after the first 'T'.
struct DateAndTimeParts {
    std::string_view Date, Time;
    bool HasTime = false;
};
DateAndTimeParts SplitAtT(std::string_view text) {
    const size_t t = text.find('T');
    if (t == std::string_view::npos) return {text, {}, false};
    return {text.substr(0, t), text.substr(t + 1), true};
}

struct TypeName {
    std::string_view Name;
    VARTYPE Read;
};

// Reading direction: name -> kind.
constexpr TypeName kReadTable[] = {
    {"short", VT_I2},         {"int", VT_I4},
    {"float", VT_R4},         {"double", VT_R8},
    {"decimal", VT_CY},       {"dateTime", VT_DATE},
    {"date", VT_DATE},        {"time", VT_DATE},
    {"string", VT_BSTR},      {"boolean", VT_BOOL},
    {"anyType", VT_VARIANT},  {"byte", VT_I1},
    {"unsignedByte", VT_UI1}, {"unsignedShort", VT_UI2},
    {"unsignedInt", VT_UI4},  {"long", VT_I8},
    {"unsignedLong", VT_UI8}, {"base64Binary", VT_ARRAY | VT_UI1},
    {"duration", VT_BSTR},
};

// Writing direction: kind -> name.
std::string_view WriteName(VARTYPE vt) {
    switch (vt) {
        case VT_I2:
            return "short";
        case VT_I4:
            return "int";
        case VT_R4:
            return "float";
        case VT_R8:
            return "double";
        case VT_CY:
            return "decimal";
        case VT_DATE:
            return "dateTime";
        case VT_BSTR:
        case VT_STRING:
            return "string";
        case VT_BOOL:
            return "boolean";
        case VT_VARIANT:
            return "anyType";
        case VT_I1:
            return "byte";
        case VT_UI1:
            return "unsignedByte";
        case VT_UI2:
            return "unsignedShort";
        case VT_UI4:
            return "unsignedInt";
        case VT_I8:
            return "long";
        case VT_UI8:
        case VT_INT:
            return "unsignedLong";
        default:
            return "unknown";
    }
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }
char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void DateError(std::string_view part) {
    throw EVelqorDateTimeException("invalid date string: " + std::string(part));
}
[[noreturn]] void TimeError(std::string_view part) {
    throw EVelqorDateTimeException("invalid time string: " + std::string(part));
}

// Two or four digits at 1-based positions; false when one is missing or not a digit.
bool Digits(std::string_view s, size_t from1, size_t count, int& out) {
    out = 0;
    for (size_t i = 0; i < count; ++i) {
        size_t p = from1 - 1 + i;
        if (p >= s.size() || !IsDigit(s[p])) return false;
        out = out * 10 + (s[p] - '0');
    }
    return true;
}

[[noreturn]] void NotANumber(std::string_view text, const char* what) {
    throw EVariantError("'" + std::string(text) + "' is not a valid " + what);
}

std::string EncodeDuration64(int64_t d, int64_t h, int64_t m, int64_t s, int64_t ms) {
    std::string out = "P";
    char buf[64];
    if (d != 0) {
        std::snprintf(buf, sizeof buf, "%lldD", (long long)d);
        out += buf;
    }
    if (h + m + s + ms > 0) {
        out += 'T';
        if (h != 0) {
            std::snprintf(buf, sizeof buf, "%lldH", (long long)h);
            out += buf;
        }
        if (m != 0) {
            std::snprintf(buf, sizeof buf, "%lldM", (long long)m);
            out += buf;
        }
        if (ms != 0) {
            std::snprintf(buf, sizeof buf, "%.2fS", double(s) + double(ms) / 1000.0);
            for (char* c = buf; *c; ++c)
                if (*c == ',') *c = '.';  // whatever the locale's decimal point
            out += buf;
        } else if (s != 0) {
            std::snprintf(buf, sizeof buf, "%lldS", (long long)s);
            out += buf;
        }
    }
    return out;
}

// The run of digits (and, for seconds, points) immediately before the first `mark`.
std::string_view RunBefore(std::string_view part, char mark, bool allowPoint) {
    size_t p = part.find(mark);
    if (p == std::string_view::npos) return "0";
    size_t b = p;
    while (b > 0 && (IsDigit(part[b - 1]) || (allowPoint && part[b - 1] == '.'))) --b;
    if (b == p) return "0";
    return part.substr(b, p - b);
}

int DurationInt(std::string_view text) {
    int64_t v;
    if (!ParseInt64(text, v) || v < INT32_MIN || v > INT32_MAX || text != TrimBlanks(text))
        NotANumber(text, "integer value");
    return int(v);
}

constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int B64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    if (c == '=') return 64;
    return -1;
}

// Base64 with the CR LF line breaks after every 76th character; column carries across calls.
void B64EncodeBlock(std::string_view in, std::string& out, int& column, bool last) {
    auto put = [&](char c) {
        out += c;
        if (++column == 76) {
            out += "\r\n";
            column = 0;
        }
    };
    size_t i = 0;
    for (; i + 3 <= in.size(); i += 3) {
        uint32_t v =
            uint32_t(uint8_t(in[i])) << 16 | uint32_t(uint8_t(in[i + 1])) << 8 | uint8_t(in[i + 2]);
        put(kB64[v >> 18]);
        put(kB64[(v >> 12) & 63]);
        put(kB64[(v >> 6) & 63]);
        put(kB64[v & 63]);
    }
    if (!last || i == in.size()) return;
    uint32_t v = uint32_t(uint8_t(in[i])) << 16;
    if (i + 1 < in.size()) v |= uint32_t(uint8_t(in[i + 1])) << 8;
    put(kB64[v >> 18]);
    put(kB64[(v >> 12) & 63]);
    put(i + 1 < in.size() ? kB64[(v >> 6) & 63] : '=');
    put('=');
}

// Decodes the characters kept so far in groups of four; a final short group of two or three
// characters still gives its one or two bytes.
struct B64Decoder {
    int q[4] = {0, 0, 0, 0};
    int n = 0;
    void Feed(char c, std::string& out) {
        int v = B64Value(c);
        if (v < 0) return;
        q[n++] = v;
        if (n < 4) return;
        Flush(out);
    }
    void Flush(std::string& out) {
        if (n < 2) {
            n = 0;
            return;
        }
        // A group that starts with padding carries no bytes.
        if (q[0] == 64 || q[1] == 64) {
            n = 0;
            return;
        }
        int a = q[0], b = q[1];
        int c = n > 2 ? q[2] : 64, d = n > 3 ? q[3] : 64;
        out += char((a << 2) | (b >> 4));
        if (c != 64) {
            out += char(((b & 15) << 4) | ((c & 63) >> 2));
            if (d != 64) out += char(((c & 3) << 6) | (d & 63));
        }
        n = 0;
    }
};

}  // namespace

bool SameTextNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::string_view TrimBlanks(std::string_view t) {
    while (!t.empty() && uint8_t(t.front()) <= ' ') t.remove_prefix(1);
    while (!t.empty() && uint8_t(t.back()) <= ' ') t.remove_suffix(1);
    return t;
}

std::string_view StripNamespacePrefix(std::string_view qname) {
    size_t p = qname.find(':');
    return p == std::string_view::npos ? qname : qname.substr(p + 1);
}

std::string AddNamespacePrefix(std::string_view prefix, std::string_view name) {
    if (prefix.empty()) return std::string(name);
    std::string out(prefix);
    out += ':';
    out += name;
    return out;
}

VARTYPE XSDTypeToVarType(std::string_view typeName, bool unknownIsString) {
    std::string_view name = StripNamespacePrefix(typeName);
    bool array = false;
    if (name.substr(0, 7) == "ArrayOf") {
        name.remove_prefix(7);
        array = true;
    }
    VARTYPE vt = kUnknownXSDType;
    bool found = false;
    for (const auto& t : kReadTable) {
        if (t.Name.size() != name.size()) continue;
        // After "ArrayOf" the first letter is compared in lower case.
        if (array ? (Lower(name[0]) == t.Name[0] && name.substr(1) == t.Name.substr(1))
                  : name == t.Name) {
            vt = t.Read;
            found = true;
            break;
        }
    }
    if (!found) vt = unknownIsString ? VARTYPE(VT_BSTR) : kUnknownXSDType;
    if (vt == kUnknownXSDType) return vt;
    return array ? VARTYPE(vt | VT_ARRAY) : vt;
}

std::string VarTypeToXSDType(std::string_view prefix, VARTYPE vt) {
    std::string_view pre = prefix.empty() ? std::string_view() : kXsdPrefix;
    VARTYPE el = VARTYPE(vt & VT_TYPEMASK);
    if (!(vt & VT_ARRAY)) return AddNamespacePrefix(pre, WriteName(el));
    if (el == VT_UI1) return AddNamespacePrefix(pre, "base64Binary");
    std::string n(WriteName(el));
    n[0] = Upper(n[0]);
    return "ArrayOf" + n;
}

std::string VariantXSDTypeName(const Variant& v) { return VarTypeToXSDType("", v.Type()); }

namespace {

// Shortest round-tripping digits of a finite, non-zero value (from std::to_chars) laid out
// fixed between 1E-4 and 1E15, else as "d.ddE[-]x".
template <class F>
std::string ShortestText(F v) {
    if (std::isnan(v)) return "NaN";  // the XML Schema spellings
    if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
    if (v == 0) return std::signbit(v) ? "-0" : "0";
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string_view s(buf, size_t(r.ptr - buf));  // [-]d[.ddd]e[+-]xx
    const bool neg = s[0] == '-';
    if (neg) s.remove_prefix(1);
    const size_t e = s.find('e');
    const int exp = std::atoi(std::string(s.substr(e + 1)).c_str());
    std::string mant;
    for (char c : s.substr(0, e))
        if (c != '.') mant.push_back(c);
    return LayOutDecimal(neg, mant, exp);
}

}  // namespace

std::string XSDFloatText(double v) { return ShortestText(v); }
std::string XSDSingleText(float v) { return ShortestText(v); }

std::string VariantToXSDText(const Variant& v) {
    switch (v.Type() & VT_TYPEMASK) {
        case VT_R4:
            return XSDSingleText(float(v.RawDouble()));
        case VT_R8:
            return XSDFloatText(v.RawDouble());
        case VT_DATE:
            return DateTimeToXSDDateTime(v.RawDouble(), true);
        case VT_BOOL:
            return v.RawInt() ? "true" : "false";
        default:
            return v.ToText();
    }
}

std::string DateTimeToXSDDateTime(double dt, bool withOffset) {
    DateTimeParts p = DecodeDateTime(dt);
    // The offset in force at that date, so that a time from the other daylight-saving season
    // is not an hour off.
    int bias = LocalTimeZoneBiasAt(dt);
    if (withOffset) {
        // Old local mean times have offsets with seconds, which the text cannot carry: write the
        // exact instant with the offset rounded to minutes, so that it reads back unchanged.
        const int64_t instantMs = DateTimeToMs(LocalToUtc(dt)) - int64_t(bias) * 60000;
        if (instantMs != DateTimeToMs(dt)) p = DecodeDateTime(DateTimeFromMs(instantMs));
    }
    char buf[96];
    if (withOffset && bias != 0) {
        int a = bias < 0 ? -bias : bias;
        std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3d%s%.2d:%.2d", p.Year,
                      p.Month, p.Day, p.Hour, p.Minute, p.Second, p.Millisecond,
                      bias < 0 ? "+" : "-", a / 60, a % 60);
    } else {
        std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3dZ", p.Year, p.Month,
                      p.Day, p.Hour, p.Minute, p.Second, p.Millisecond);
    }
    return buf;
}

double XSDDateTimeToDateTime(std::string_view text) {
    const auto [datePart, timePart, hasTime] = SplitAtT(text);
    DateTimeParts p;
    if (!Digits(datePart, 1, 4, p.Year) || !Digits(datePart, 6, 2, p.Month) ||
        !Digits(datePart, 9, 2, p.Day))
        DateError(datePart);
    p.Hour = p.Minute = p.Second = p.Millisecond = 0;
    int offH = 0, offM = 0;
    if (hasTime) {
        if (timePart.size() < 8) TimeError(timePart);
        if (!Digits(timePart, 1, 2, p.Hour) || !Digits(timePart, 4, 2, p.Minute) ||
            !Digits(timePart, 7, 2, p.Second))
            TimeError(timePart);
        size_t pos = 8;
        size_t fractionLen = 0;
        if (pos < timePart.size() && timePart[pos] == '.') {
            if (timePart.size() < 10 || !IsDigit(timePart[9])) TimeError(timePart);
            size_t e = 9;
            while (e < timePart.size() && IsDigit(timePart[e])) ++e;
            // Milliseconds are the fraction truncated to three digits.
            for (size_t i = 9; i < 12; ++i)
                p.Millisecond = p.Millisecond * 10 + (i < e ? timePart[i] - '0' : 0);
            fractionLen = e - 8;
            pos = e;
        }
        if (pos < timePart.size() && (timePart[pos] == '+' || timePart[pos] == '-')) {
            if (timePart.size() < 13 + fractionLen) TimeError(timePart);
            if (!Digits(timePart, pos + 2, 2, offH) || !Digits(timePart, pos + 5, 2, offM))
                throw EVelqorDateTimeException("invalid time offset");
            // Zone offsets run from -14:00 to +14:00.
            if (offM > 59 || offH * 60 + offM > 14 * 60)
                throw EVelqorDateTimeException("invalid time offset");
            if (timePart[pos] == '-') {
                offH = -offH;
                offM = -offM;
            }
        }
    }
    // Out-of-range fields are refused rather than read as 1899-12-30.
    double day;
    DateTimeParts dateOnly{p.Year, p.Month, p.Day, 0, 0, 0, 0};
    if (!TryEncodeDateTime(dateOnly, day)) DateError(datePart);
    if (p.Hour > 23 || p.Minute > 59 || p.Second > 59) TimeError(timePart);
    // The text's own time less its offset is UTC; local time follows from the zone's rules at
    // that moment (a time from the other daylight-saving season is not an hour off).
    int64_t utcMs = int64_t(std::llround(day)) * 86400000LL +
                    ((int64_t(p.Hour) * 60 + p.Minute) * 60 + p.Second) * 1000 + p.Millisecond -
                    (int64_t(offH) * 60 + offM) * 60000;
    return UtcToLocal(DateTimeFromMs(utcMs));
}

std::string EncodeXSDDuration(int days, int hours, int minutes, int seconds, int milliseconds) {
    return EncodeDuration64(days, hours, minutes, seconds, milliseconds);
}

std::string SecondsToXSDDuration(double x) {
    if (!std::isfinite(x) || std::fabs(x) > 9.0e15)
        throw EVelqorDateTimeException("invalid duration: " + XSDFloatText(x));
    double whole = std::trunc(x);
    int64_t ms = int64_t((x - whole) * 1000.0);
    int64_t s = int64_t(whole);
    int64_t totalHours = s / 3600;
    return EncodeDuration64(totalHours / 24, totalHours % 24, (s % 3600) / 60, s % 60, ms);
}

XSDDuration DecodeXSDDuration(std::string_view text) {
    if (text.empty() || text[0] != 'P')
        throw EVelqorDateTimeException("invalid duration string: " + std::string(text));
    XSDDuration d;
    const auto [datePart, timePart, hasTime] = SplitAtT(text);
    d.Days = DurationInt(RunBefore(datePart, 'D', false));
    if (hasTime) {
        d.Hours = DurationInt(RunBefore(timePart, 'H', false));
        d.Minutes = DurationInt(RunBefore(timePart, 'M', false));
        std::string_view sec = RunBefore(timePart, 'S', true);
        if (size_t dot = sec.find('.'); dot != std::string_view::npos) {
            d.Seconds = DurationInt(sec.substr(0, dot));
            std::string frac = "0." + std::string(sec.substr(dot + 1));
            d.Milliseconds = int(std::llround(XSDToFloat(frac) * 1000.0));
        } else {
            d.Seconds = DurationInt(sec);
        }
    }
    return d;
}

double XSDDurationToSeconds(std::string_view text) {
    XSDDuration d = DecodeXSDDuration(text);
    return double(d.Days) * 86400.0 + double(d.Hours) * 3600.0 + double(d.Minutes) * 60.0 +
           double(d.Seconds) + double(d.Milliseconds) / 1000.0;
}

double XSDToFloat(std::string_view text) {
    double v;
    if (!ParseFloat(text, v)) NotANumber(text, "floating point value");
    return v;
}

int64_t XSDToDecimal(std::string_view text) {
    std::string_view t = TrimBlanks(text);
    bool neg = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        neg = t[0] == '-';
        t.remove_prefix(1);
    }
    // Exact decimal first: digits, optional point and digits, rounded half away from zero
    // to four decimals.
    size_t i = 0;
    uint64_t whole = 0;
    bool digits = false, tooBig = false;
    for (; i < t.size() && IsDigit(t[i]); ++i) {
        digits = true;
        uint64_t next = whole * 10 + uint64_t(t[i] - '0');
        if (tooBig || next > 922337203685477ULL)
            tooBig = true;
        else
            whole = next;
    }
    uint64_t frac = 0;
    int fracDigits = 0;
    bool roundUp = false;
    if (i < t.size() && t[i] == '.') {
        for (++i; i < t.size() && IsDigit(t[i]); ++i) {
            digits = true;
            if (fracDigits < 4) {
                frac = frac * 10 + uint64_t(t[i] - '0');
                ++fracDigits;
            } else if (fracDigits == 4) {
                roundUp = t[i] >= '5';
                ++fracDigits;
            }
        }
    }
    if (digits && i == t.size()) {
        while (fracDigits < 4) {
            frac *= 10;
            ++fracDigits;
        }
        // whole stays within the currency range, so the scaled value fits 64 unsigned bits.
        uint64_t scaled = whole * 10000 + frac + (roundUp ? 1 : 0);
        uint64_t limit = neg ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
        if (tooBig || scaled > limit)
            throw EVariantError("'" + std::string(text) + "' is out of currency range");
        return neg ? int64_t(0 - scaled) : int64_t(scaled);
    }
    double v = XSDToFloat(text);  // exponent forms; raises for junk
    if (!std::isfinite(v) || std::fabs(v) >= 922337203685477.0)
        throw EVariantError("'" + std::string(text) + "' is out of currency range");
    return int64_t(std::llround(v * 10000.0));
}

uint32_t XSDToCardinal(std::string_view text) {
    int64_t v;
    if (!ParseInt64(text, v)) throw Exception("cardinal convert error");
    return uint32_t(uint64_t(v));
}

int32_t XSDToInteger(std::string_view text) {
    int64_t v;
    if (!ParseInt64(text, v) || v < INT32_MIN || v > INT32_MAX) NotANumber(text, "integer value");
    return int32_t(v);
}

std::string Base64Encode(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() / 3 * 4 + bytes.size() / 57 * 2 + 8);
    int column = 0;
    B64EncodeBlock(bytes, out, column, true);
    return out;
}

std::string Base64Decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    B64Decoder d;
    for (char c : text) d.Feed(c, out);
    d.Flush(out);
    return out;
}

namespace {

// Reads the stream in blocks of N bytes and writes what convert makes of each; convert is told
// which block is the last.
template <size_t N, class Convert>
void ConvertBlocks(std::istream& in, std::ostream& out, Convert convert) {
    char buf[N];
    std::string chunk;
    while (in) {
        in.read(buf, N);
        const std::streamsize n = in.gcount();
        if (n <= 0) break;
        chunk.clear();
        convert(std::string_view(buf, size_t(n)), chunk, !in);
        out.write(chunk.data(), std::streamsize(chunk.size()));
    }
}

}  // namespace

void Base64Encode(std::istream& in, std::ostream& out) {
    // Blocks of 510 bytes, a multiple of three, so groups never straddle blocks.
    int column = 0;
    ConvertBlocks<510>(in, out, [&](std::string_view block, std::string& chunk, bool last) {
        B64EncodeBlock(block, chunk, column, last);
    });
}

void Base64Decode(std::istream& in, std::ostream& out) {
    B64Decoder d;
    ConvertBlocks<4096>(in, out, [&](std::string_view block, std::string& chunk, bool) {
        for (char c : block) d.Feed(c, chunk);
    });
    std::string rest;
    d.Flush(rest);
    out.write(rest.data(), std::streamsize(rest.size()));
}

}  // namespace velqor
