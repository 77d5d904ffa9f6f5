#include "xmlda/Values.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace velqor::xmldasim {
namespace {

struct KindInfo {
    Kind kind;
    const char* name;
    const char* arrayName;  // nullptr: no array form
};

constexpr std::array<KindInfo, 16> kKinds{{
    {Kind::Byte, "byte", "ArrayOfByte"},
    {Kind::UnsignedByte, "unsignedByte", nullptr},  // byte strings travel as base64Binary
    {Kind::Short, "short", "ArrayOfShort"},
    {Kind::UnsignedShort, "unsignedShort", "ArrayOfUnsignedShort"},
    {Kind::Int, "int", "ArrayOfInt"},
    {Kind::UnsignedInt, "unsignedInt", "ArrayOfUnsignedInt"},
    {Kind::Long, "long", "ArrayOfLong"},
    {Kind::UnsignedLong, "unsignedLong", "ArrayOfUnsignedLong"},
    {Kind::Float, "float", "ArrayOfFloat"},
    {Kind::Double, "double", "ArrayOfDouble"},
    {Kind::Decimal, "decimal", "ArrayOfDecimal"},
    {Kind::String, "string", "ArrayOfString"},
    {Kind::Boolean, "boolean", "ArrayOfBoolean"},
    {Kind::DateTime, "dateTime", "ArrayOfDateTime"},
    {Kind::Base64Binary, "base64Binary", nullptr},
    {Kind::AnyType, "anyType", "ArrayOfAnyType"},
}};

const KindInfo& info(Kind k) { return kKinds[static_cast<std::size_t>(k)]; }

bool isSigned(Kind k) {
    return k == Kind::Byte || k == Kind::Short || k == Kind::Int || k == Kind::Long;
}
bool isUnsigned(Kind k) {
    return k == Kind::UnsignedByte || k == Kind::UnsignedShort || k == Kind::UnsignedInt ||
           k == Kind::UnsignedLong;
}
bool isReal(Kind k) { return k == Kind::Float || k == Kind::Double || k == Kind::Decimal; }

// The width of an integer kind, signed or not.
int integerBits(Kind k) {
    switch (k) {
        case Kind::Byte:
        case Kind::UnsignedByte:
            return 8;
        case Kind::Short:
        case Kind::UnsignedShort:
            return 16;
        case Kind::Int:
        case Kind::UnsignedInt:
            return 32;
        default:
            return 64;
    }
}
std::int64_t signedMax(Kind k) {
    return static_cast<std::int64_t>((std::uint64_t{1} << (integerBits(k) - 1)) - 1);
}
std::int64_t signedMin(Kind k) { return -signedMax(k) - 1; }
std::uint64_t unsignedMax(Kind k) { return ~std::uint64_t{0} >> (64 - integerBits(k)); }

std::string_view trim(std::string_view s) {
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    while (!s.empty() && space(s.front())) s.remove_prefix(1);
    while (!s.empty() && space(s.back())) s.remove_suffix(1);
    return s;
}

std::optional<double> parseReal(std::string_view t) {
    t = trim(t);
    if (t == "INF") return std::numeric_limits<double>::infinity();
    if (t == "-INF") return -std::numeric_limits<double>::infinity();
    if (t == "NaN") return std::numeric_limits<double>::quiet_NaN();
    if (!t.empty() && t.front() == '+') t.remove_prefix(1);
    if (t.empty()) return std::nullopt;
    double d = 0;
    auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), d);
    if (ec != std::errc() || p != t.data() + t.size()) return std::nullopt;
    return d;
}

// Marks a value out of its type's range, for a caller that asks (range not null).
std::nullopt_t outOfRange(bool* range) {
    if (range) *range = true;
    return std::nullopt;
}

// Signed or unsigned integer from a number already held in some scalar form.
std::optional<Scalar> toInteger(Kind to, long double v, bool* range) {
    if (!std::isfinite(v)) return outOfRange(range);
    v = std::round(v);
    if (isSigned(to)) {
        if (v < static_cast<long double>(signedMin(to)) ||
            v > static_cast<long double>(signedMax(to)))
            return outOfRange(range);
        return Scalar{static_cast<std::int64_t>(v)};
    }
    if (v < 0 || v > static_cast<long double>(unsignedMax(to))) return outOfRange(range);
    return Scalar{static_cast<std::uint64_t>(v)};
}

std::optional<Scalar> toReal(Kind to, double v, bool* range) {
    // A float text names the nearest float: up to half a step beyond the largest one it is that.
    if (to == Kind::Float && std::isfinite(v) && std::fabs(v) >= 0x1.ffffffp127)
        return outOfRange(range);
    if (to == Kind::Float) return Scalar{static_cast<double>(static_cast<float>(v))};
    if (to == Kind::Decimal && !std::isfinite(v)) return outOfRange(range);
    return Scalar{v};
}

std::optional<long double> numberOf(const Scalar& s) {
    if (auto* i = std::get_if<std::int64_t>(&s)) return static_cast<long double>(*i);
    if (auto* u = std::get_if<std::uint64_t>(&s)) return static_cast<long double>(*u);
    if (auto* d = std::get_if<double>(&s)) return static_cast<long double>(*d);
    if (auto* b = std::get_if<bool>(&s)) return *b ? 1.0L : 0.0L;
    return std::nullopt;
}

std::optional<Scalar> convertScalar(Kind from, const Scalar& s, Kind to, bool* range) {
    if (to == Kind::AnyType || from == to) return s;
    if (to == Kind::String) return Scalar{scalarText(from, s)};
    if (from == Kind::String) return parseScalar(to, std::get<std::string>(s), range);
    auto n = numberOf(s);
    if (isSigned(to) || isUnsigned(to)) {
        if (!n) return std::nullopt;
        return toInteger(to, *n, range);
    }
    if (isReal(to)) {
        if (!n) return std::nullopt;
        return toReal(to, static_cast<double>(*n), range);
    }
    if (to == Kind::Boolean) {
        if (!n) return std::nullopt;
        return Scalar{*n != 0};
    }
    return std::nullopt;  // dateTime and base64Binary convert only from themselves or from text
}

}  // namespace

std::string kindName(Kind k) { return info(k).name; }

std::string typeLocalName(DataType t) {
    if (!t.array) return info(t.kind).name;
    const char* a = info(t.kind).arrayName;
    return a ? a : "ArrayOfAnyType";
}

bool isXsdType(DataType t) { return !t.array; }

std::string arrayElementName(Kind k) { return info(k).name; }

std::optional<DataType> typeFromName(std::string_view q) {
    if (auto colon = q.find(':'); colon != std::string_view::npos) q = q.substr(colon + 1);
    q = trim(q);
    for (const auto& i : kKinds) {
        if (q == i.name) return DataType{i.kind, false};
        if (i.arrayName && q == i.arrayName) return DataType{i.kind, true};
    }
    return std::nullopt;
}

bool isNumeric(Kind k) { return isSigned(k) || isUnsigned(k) || isReal(k); }

std::string formatDateTime(TimePoint t) {
    using namespace std::chrono;
    auto day = floor<days>(t);
    year_month_day ymd{day};
    hh_mm_ss<milliseconds> tod{t - day};
    const int year = static_cast<int>(ymd.year());
    if (year >= 0 && year <= 9999) {
        // Every reply item carries one: digits by hand, not through printf.
        char buf[] = "0000-00-00T00:00:00.000Z";
        const auto put = [&buf](int at, int width, int v) {
            for (int k = at + width - 1; k >= at; --k, v /= 10) buf[k] = char('0' + v % 10);
        };
        put(0, 4, year);
        put(5, 2, static_cast<int>(static_cast<unsigned>(ymd.month())));
        put(8, 2, static_cast<int>(static_cast<unsigned>(ymd.day())));
        put(11, 2, static_cast<int>(tod.hours().count()));
        put(14, 2, static_cast<int>(tod.minutes().count()));
        put(17, 2, static_cast<int>(tod.seconds().count()));
        put(20, 3, static_cast<int>(tod.subseconds().count()));
        return std::string(buf, sizeof buf - 1);
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                  static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()), static_cast<int>(tod.hours().count()),
                  static_cast<int>(tod.minutes().count()), static_cast<int>(tod.seconds().count()),
                  static_cast<int>(tod.subseconds().count()));
    return buf;
}

std::optional<TimePoint> parseDateTime(std::string_view t) {
    using namespace std::chrono;
    t = trim(t);
    auto num = [&](std::size_t pos, std::size_t len, int& out) {
        if (pos + len > t.size()) return false;
        auto [p, ec] = std::from_chars(t.data() + pos, t.data() + pos + len, out);
        return ec == std::errc() && p == t.data() + pos + len;
    };
    int y, mo, d, h, mi, s;
    if (t.size() < 19 || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' || t[16] != ':')
        return std::nullopt;
    if (!num(0, 4, y) || !num(5, 2, mo) || !num(8, 2, d) || !num(11, 2, h) || !num(14, 2, mi) ||
        !num(17, 2, s))
        return std::nullopt;
    year_month_day ymd{year{y}, month{static_cast<unsigned>(mo)}, day{static_cast<unsigned>(d)}};
    if (!ymd.ok() || h > 24 || mi > 59 || s > 60) return std::nullopt;
    std::size_t pos = 19;
    long long ms = 0;
    if (pos < t.size() && t[pos] == '.') {
        ++pos;
        int digits = 0;
        while (pos < t.size() && t[pos] >= '0' && t[pos] <= '9') {
            if (digits < 3) ms = ms * 10 + (t[pos] - '0');
            ++digits;
            ++pos;
        }
        if (digits == 0) return std::nullopt;
        for (int i = digits; i < 3; ++i) ms *= 10;
    }
    long long offsetMin = 0;
    if (pos < t.size()) {
        if (t[pos] == 'Z' && pos + 1 == t.size()) {
            pos = t.size();
        } else if ((t[pos] == '+' || t[pos] == '-') && pos + 6 == t.size() && t[pos + 3] == ':') {
            int oh, om;
            if (!num(pos + 1, 2, oh) || !num(pos + 4, 2, om) || oh > 14 || om > 59)
                return std::nullopt;
            offsetMin = (oh * 60 + om) * (t[pos] == '-' ? -1 : 1);
        } else {
            return std::nullopt;
        }
    }
    auto tp =
        sys_days{ymd} + hours{h} + minutes{mi} + seconds{s} + milliseconds{ms} - minutes{offsetMin};
    return time_point_cast<milliseconds>(tp);
}

std::string base64Encode(const Bytes& b) {
    static const char* tbl = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((b.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < b.size(); i += 3) {
        std::uint32_t n = static_cast<std::uint32_t>(b[i]) << 16;
        if (i + 1 < b.size()) n |= static_cast<std::uint32_t>(b[i + 1]) << 8;
        if (i + 2 < b.size()) n |= b[i + 2];
        out += tbl[(n >> 18) & 63];
        out += tbl[(n >> 12) & 63];
        out += i + 1 < b.size() ? tbl[(n >> 6) & 63] : '=';
        out += i + 2 < b.size() ? tbl[n & 63] : '=';
    }
    return out;
}

std::optional<Bytes> base64Decode(std::string_view text) {
    Bytes out;
    std::uint32_t acc = 0;
    int bits = 0;
    int pad = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=') {
            ++pad;
            continue;
        } else if (c == ' ' || c == '\n' || c == '\r' || c == '\t')
            continue;
        else
            return std::nullopt;
        if (pad) return std::nullopt;  // data after padding
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>((acc >> bits) & 0xFF));
        }
    }
    if (pad > 2) return std::nullopt;
    return out;
}

std::string scalarText(Kind k, const Scalar& s) {
    if (auto* i = std::get_if<std::int64_t>(&s)) return std::to_string(*i);
    if (auto* u = std::get_if<std::uint64_t>(&s)) return std::to_string(*u);
    if (auto* b = std::get_if<bool>(&s)) return *b ? "true" : "false";
    if (auto* str = std::get_if<std::string>(&s)) return *str;
    if (auto* by = std::get_if<Bytes>(&s)) return base64Encode(*by);
    if (auto* dt = std::get_if<DateTimeValue>(&s)) return formatDateTime(dt->at);
    double d = std::get<double>(s);
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d > 0 ? "INF" : "-INF";
    char buf[64];
    if (k == Kind::Float) {
        std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(static_cast<float>(d)));
    } else if (k == Kind::Decimal) {
        std::snprintf(buf, sizeof buf, "%.6f", d);  // decimal has no exponent form
        std::string t = buf;
        while (t.back() == '0') t.pop_back();
        if (t.back() == '.') t.pop_back();
        return t;
    } else {
        std::snprintf(buf, sizeof buf, "%.17g", d);
    }
    return buf;
}

// All of t as an integer of type T.
template <class T>
std::optional<T> parseWhole(std::string_view t, bool* range) {
    T v = 0;
    auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    const bool whole = p == t.data() + t.size();
    if (ec == std::errc::result_out_of_range && whole) return outOfRange(range);
    if (t.empty() || ec != std::errc() || !whole) return std::nullopt;
    return v;
}

std::optional<Scalar> parseScalar(Kind k, std::string_view text, bool* range) {
    std::string_view t = trim(text);
    if (isSigned(k)) {
        if (!t.empty() && t.front() == '+') t.remove_prefix(1);
        const auto v = parseWhole<std::int64_t>(t, range);
        if (!v) return std::nullopt;
        if (*v < signedMin(k) || *v > signedMax(k)) return outOfRange(range);
        return Scalar{*v};
    }
    if (isUnsigned(k)) {
        if (!t.empty() && t.front() == '+') t.remove_prefix(1);
        if (!t.empty() && t.front() == '-') {
            bool zero = t.find_first_not_of("-0") == std::string_view::npos && t.size() > 1;
            if (zero) return Scalar{std::uint64_t{0}};
            if (range && parseReal(t)) *range = true;
            return std::nullopt;
        }
        const auto v = parseWhole<std::uint64_t>(t, range);
        if (!v) return std::nullopt;
        if (*v > unsignedMax(k)) return outOfRange(range);
        return Scalar{*v};
    }
    if (isReal(k)) {
        auto d = parseReal(t);
        if (!d) return std::nullopt;
        return toReal(k, *d, range);
    }
    switch (k) {
        case Kind::String:
        case Kind::AnyType:
            return Scalar{std::string(text)};
        case Kind::Boolean:
            if (t == "true" || t == "1") return Scalar{true};
            if (t == "false" || t == "0") return Scalar{false};
            return std::nullopt;
        case Kind::DateTime: {
            auto tp = parseDateTime(t);
            if (!tp) return std::nullopt;
            return Scalar{DateTimeValue{*tp}};
        }
        case Kind::Base64Binary: {
            auto b = base64Decode(t);
            if (!b) return std::nullopt;
            return Scalar{std::move(*b)};
        }
        default:
            return std::nullopt;
    }
}

Converted convert(const Value& v, DataType target) {
    if (target.kind == Kind::AnyType && !target.array) return {v, {}};
    if (v.type == target) return {v, {}};
    if (v.type.array != target.array) return {{}, "E_BADTYPE"};
    Converted out;
    out.value.type = target;
    for (const auto& e : v.elems) {
        bool range = false;
        auto s = convertScalar(v.type.kind, e, target.kind, &range);
        if (!s) return {{}, range ? "E_RANGE" : "E_BADTYPE"};
        out.value.elems.push_back(std::move(*s));
    }
    return out;
}

std::optional<double> numericOf(const Value& v) {
    if (v.type.array || v.elems.empty() || !isNumeric(v.type.kind)) return std::nullopt;
    auto n = numberOf(v.elems.front());
    if (!n) return std::nullopt;
    return static_cast<double>(*n);
}

}  // namespace velqor::xmldasim
