#include "Variant.h"

#include <locale.h>

#include <cfloat>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "VelqorDateTime.h"

namespace velqor {

namespace {

bool IsSignedKind(VARTYPE vt) {
    return vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_I8 || vt == VT_INT ||
           vt == VT_ERROR;
}
bool IsUnsignedKind(VARTYPE vt) {
    return vt == VT_UI1 || vt == VT_UI2 || vt == VT_UI4 || vt == VT_UI8 || vt == VT_UINT;
}
bool IsFloatKind(VARTYPE vt) { return vt == VT_R4 || vt == VT_R8 || vt == VT_DATE; }

[[noreturn]] void Mismatch(VARTYPE from, VARTYPE to) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "Could not convert variant of type (0x%04X) into type (0x%04X)",
                  unsigned(from), unsigned(to));
    throw EVariantError(buf);
}
[[noreturn]] void Overflow(VARTYPE from, VARTYPE to) {
    char buf[96];
    std::snprintf(buf, sizeof buf,
                  "Overflow while converting variant of type (0x%04X) into type (0x%04X)",
                  unsigned(from), unsigned(to));
    throw EVariantError(buf);
}

std::string_view Trim(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Range of each integer kind.
void IntRange(VARTYPE vt, long double& lo, long double& hi) {
    switch (vt) {
        case VT_I1:
            lo = INT8_MIN, hi = INT8_MAX;
            break;
        case VT_UI1:
            lo = 0, hi = UINT8_MAX;
            break;
        case VT_I2:
            lo = INT16_MIN, hi = INT16_MAX;
            break;
        case VT_UI2:
            lo = 0, hi = UINT16_MAX;
            break;
        case VT_I4:
        case VT_INT:
        case VT_ERROR:
            lo = INT32_MIN, hi = INT32_MAX;
            break;
        case VT_UI4:
        case VT_UINT:
            lo = 0, hi = UINT32_MAX;
            break;
        case VT_I8:
            lo = (long double)INT64_MIN, hi = (long double)INT64_MAX;
            break;
        default:
            lo = 0, hi = (long double)UINT64_MAX;
            break;
    }
}

// Round half to even, as automation conversions do.
long double RoundBankers(long double v) {
    long double r = std::nearbyintl(v);  // default rounding mode is to-nearest-even
    return r;
}

}  // namespace

Variant::Variant(const Variant& o) : vt_(o.vt_), buffer_(o.buffer_), i_(o.i_), s_(o.s_) {
    if (o.arr_ && !o.buffer_) arr_ = std::make_unique<VariantArray>(*o.arr_);
}

Variant& Variant::operator=(const Variant& o) {
    if (this != &o) {
        Variant copy(o);
        *this = std::move(copy);
    }
    return *this;
}

Variant Variant::Null() {
    Variant v;
    v.vt_ = VT_NULL;
    return v;
}

#define VELQOR_INT_FACTORY(Name, Kind, Field, Type) \
    Variant Variant::Name(Type x) {                 \
        Variant v;                                  \
        v.vt_ = Kind;                               \
        v.Field = x;                                \
        return v;                                   \
    }
VELQOR_INT_FACTORY(I1, VT_I1, i_, int8_t)
VELQOR_INT_FACTORY(UI1, VT_UI1, u_, uint8_t)
VELQOR_INT_FACTORY(I2, VT_I2, i_, int16_t)
VELQOR_INT_FACTORY(UI2, VT_UI2, u_, uint16_t)
VELQOR_INT_FACTORY(I4, VT_I4, i_, int32_t)
VELQOR_INT_FACTORY(UI4, VT_UI4, u_, uint32_t)
VELQOR_INT_FACTORY(I8, VT_I8, i_, int64_t)
VELQOR_INT_FACTORY(UI8, VT_UI8, u_, uint64_t)
VELQOR_INT_FACTORY(Int, VT_INT, i_, int32_t)
VELQOR_INT_FACTORY(UInt, VT_UINT, u_, uint32_t)
VELQOR_INT_FACTORY(Currency, VT_CY, i_, int64_t)
VELQOR_INT_FACTORY(Error, VT_ERROR, i_, int32_t)
VELQOR_INT_FACTORY(R8, VT_R8, d_, double)
VELQOR_INT_FACTORY(Date, VT_DATE, d_, double)
#undef VELQOR_INT_FACTORY

Variant Variant::R4(float x) {
    Variant v;
    v.vt_ = VT_R4;
    v.d_ = double(x);
    return v;
}

Variant Variant::CurrencyFromDouble(double x) {
    long double scaled = RoundBankers((long double)x * 10000.0L);
    if (!(scaled >= (long double)INT64_MIN && scaled <= (long double)INT64_MAX))
        Overflow(VT_R8, VT_CY);
    return Currency(int64_t(scaled));
}

Variant Variant::Bool(bool x) {
    Variant v;
    v.vt_ = VT_BOOL;
    v.i_ = x ? 1 : 0;
    return v;
}

Variant Variant::Str(std::string s) {
    Variant v;
    v.vt_ = VT_BSTR;
    v.s_ = std::move(s);
    return v;
}

Variant Variant::AnsiStr(std::string s) {
    Variant v;
    v.vt_ = VT_STRING;
    v.s_ = std::move(s);
    return v;
}

Variant Variant::Array(VARTYPE elementType, std::vector<Variant> elements, int32_t lowBound) {
    elementType = VARTYPE(elementType & VT_TYPEMASK);
    if (elementType != VT_VARIANT) {
        for (auto& e : elements)
            if (e.Type() != elementType) e = e.ChangeType(elementType);
    }
    if (elementType == VT_UI1) {  // byte arrays live as one buffer
        std::string bytes;
        bytes.reserve(elements.size());
        for (const auto& e : elements) bytes.push_back(char(uint8_t(e.u_)));
        Variant v = TakeBytes(std::move(bytes));
        v.i_ = lowBound;
        return v;
    }
    Variant v;
    v.vt_ = VARTYPE(VT_ARRAY | elementType);
    v.arr_ = std::make_unique<VariantArray>();
    v.arr_->LowBound = lowBound;
    v.arr_->Elements = std::move(elements);
    return v;
}

Variant Variant::Bytes(std::string_view bytes) { return TakeBytes(std::string(bytes)); }

Variant Variant::TakeBytes(std::string&& bytes) {
    Variant v;
    v.vt_ = VARTYPE(VT_ARRAY | VT_UI1);
    v.s_ = std::move(bytes);
    v.i_ = 0;
    v.buffer_ = true;
    return v;
}

bool Variant::IsNumeric() const {
    return (IsSignedKind(vt_) && vt_ != VT_ERROR) || IsUnsignedKind(vt_) || vt_ == VT_R4 ||
           vt_ == VT_R8 || vt_ == VT_CY;
}

const VariantArray& Variant::ArrayData() const {
    if (buffer_ && !arr_) {
        auto a = std::make_unique<VariantArray>();
        a->LowBound = int32_t(i_);
        a->Elements.reserve(s_.size());
        for (unsigned char c : s_) a->Elements.push_back(UI1(c));
        arr_ = std::move(a);
    }
    if (!arr_) throw EVariantError("Variant is not an array");
    return *arr_;
}

VariantArray& Variant::ArrayData() {
    if (buffer_) {
        static_cast<const Variant&>(*this).ArrayData();
        buffer_ = false;
        s_.clear();
        s_.shrink_to_fit();
    }
    if (!arr_) throw EVariantError("Variant is not an array");
    return *arr_;
}

size_t Variant::ArrayCount() const {
    if (buffer_) return s_.size();
    if (!arr_) throw EVariantError("Variant is not an array");
    return arr_->Elements.size();
}

int32_t Variant::ArrayLowBound() const {
    if (buffer_) return int32_t(i_);
    if (!arr_) throw EVariantError("Variant is not an array");
    return arr_->LowBound;
}

std::string_view Variant::BytesView() const {
    if (!buffer_) Mismatch(vt_, VT_ARRAY | VT_UI1);
    return s_;
}

std::string Variant::AsBytes() const {
    if (vt_ != (VT_ARRAY | VT_UI1)) Mismatch(vt_, VT_ARRAY | VT_UI1);
    if (buffer_) return s_;
    std::string out;
    out.reserve(arr_->Elements.size());
    for (const auto& e : arr_->Elements) out.push_back(char(uint8_t(e.u_)));
    return out;
}

bool ParseInt64(std::string_view text, int64_t& out) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') return false;  // "+-5" is not a number
    }
    if (text.empty()) return false;
    auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool ParseUInt64(std::string_view text, uint64_t& out) {
    text = Trim(text);
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '-') return false;
    auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool ParseFloat(std::string_view text, double& out) {
    text = Trim(text);
    bool neg = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        neg = text.front() == '-';
        text.remove_prefix(1);
        if (!text.empty() && (text.front() == '+' || text.front() == '-')) return false;
    }
    if (text.empty()) return false;
    if (EqualsNoCase(text, "INF") || EqualsNoCase(text, "INFINITY")) {
        out = neg ? -HUGE_VAL : HUGE_VAL;
        return true;
    }
    if (EqualsNoCase(text, "NAN")) {
        out = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    auto r =
        std::from_chars(text.data(), text.data() + text.size(), out, std::chars_format::general);
    if (r.ptr != text.data() + text.size()) return false;
    if (r.ec == std::errc::result_out_of_range) {
        // Too large gives infinity, too small gives zero, as the C library does.
#ifdef _WIN32
        static const _locale_t cLocale = _create_locale(LC_NUMERIC, "C");
        double probe = _strtod_l(std::string(text).c_str(), nullptr, cLocale);
#else
        static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", locale_t(0));
        double probe = strtod_l(std::string(text).c_str(), nullptr, cLocale);
#endif
        out = probe;
    } else if (r.ec != std::errc()) {
        return false;
    }
    if (neg) out = -out;
    return true;
}

bool ParseSingle(std::string_view text, float& out) {
    double wide;
    if (!ParseFloat(text, wide)) return false;
    if (!std::isfinite(wide) || wide == 0) {
        out = float(wide);
        return true;
    }
    std::string_view t = Trim(text);
    const bool neg = t.front() == '-';
    if (t.front() == '+' || t.front() == '-') t.remove_prefix(1);
    float f = 0;
    const auto r = std::from_chars(t.data(), t.data() + t.size(), f, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        if (std::fabs(wide) > 1) return false;  // beyond the largest single
        f = float(std::fabs(wide));             // tiny: subnormal or zero, as the C library
    } else if (r.ec != std::errc()) {
        return false;
    }
    out = neg ? -f : f;
    return true;
}

std::string FormatFloatGeneral(long double v, int digits) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v > 0 ? "INF" : "-INF";
    if (v == 0) return "0";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*Le", digits - 1, v);
    // buf: [-]d.ddddde[+-]xx
    std::string s = buf;
    bool neg = s[0] == '-';
    if (neg) s.erase(0, 1);
    size_t e = s.find('e');
    int exp = std::atoi(s.c_str() + e + 1);
    std::string mant;
    for (size_t i = 0; i < e; ++i)
        if (s[i] >= '0' && s[i] <= '9') mant.push_back(s[i]);  // the locale's point is skipped
    while (mant.size() > 1 && mant.back() == '0') mant.pop_back();
    return LayOutDecimal(neg, mant, exp);
}

std::string LayOutDecimal(bool negative, std::string_view mant, int exp) {
    std::string out = negative ? "-" : "";
    if (exp >= -4 && exp < 15) {
        if (exp < 0) {
            out += "0.";
            out.append(size_t(-exp - 1), '0');
            out += mant;
        } else if (size_t(exp) + 1 >= mant.size()) {
            out += mant;
            out.append(size_t(exp) + 1 - mant.size(), '0');
        } else {
            out += mant.substr(0, size_t(exp) + 1);
            out += '.';
            out += mant.substr(size_t(exp) + 1);
        }
    } else {
        out += mant[0];
        if (mant.size() > 1) {
            out += '.';
            out += mant.substr(1);
        }
        out += 'E';
        out += std::to_string(exp);
    }
    return out;
}

namespace {
std::string CurrencyText(int64_t cy) {
    bool neg = cy < 0;
    uint64_t a = neg ? uint64_t(0) - uint64_t(cy) : uint64_t(cy);
    std::string s = std::to_string(a / 10000);
    uint64_t frac = a % 10000;
    if (frac) {
        char buf[8];
        std::snprintf(buf, sizeof buf, "%04u", unsigned(frac));
        std::string f = buf;
        while (f.back() == '0') f.pop_back();
        s += '.' + f;
    }
    return neg ? "-" + s : s;
}
}  // namespace

std::string Variant::ToText() const {
    switch (vt_) {
        case VT_EMPTY:
        case VT_NULL:
            return "";
        case VT_BOOL:
            return i_ ? "True" : "False";
        case VT_R4:
            return FormatFloatGeneral(d_, 7);
        case VT_R8:
            return FormatFloatGeneral(d_, 15);
        case VT_CY:
            return CurrencyText(i_);
        case VT_DATE:
            return FormatDateTimeText(d_);
        case VT_BSTR:
        case VT_STRING:
            return s_;
        default:
            break;
    }
    if (IsSignedKind(vt_)) return std::to_string(i_);
    if (IsUnsignedKind(vt_)) return std::to_string(u_);
    Mismatch(vt_, VT_BSTR);
}

bool Variant::AsBool() const { return ChangeType(VT_BOOL).i_ != 0; }
int32_t Variant::AsInt32() const { return int32_t(ChangeType(VT_I4).i_); }
uint32_t Variant::AsUInt32() const { return uint32_t(ChangeType(VT_UI4).u_); }
int64_t Variant::AsInt64() const { return ChangeType(VT_I8).i_; }
uint64_t Variant::AsUInt64() const { return ChangeType(VT_UI8).u_; }
double Variant::AsDouble() const { return ChangeType(VT_R8).d_; }
double Variant::AsDate() const { return ChangeType(VT_DATE).d_; }
int64_t Variant::AsCurrency() const { return ChangeType(VT_CY).i_; }

Variant Variant::ChangeType(VARTYPE to) const {
    if (to == vt_ || to == VT_VARIANT) return *this;
    if (to & VT_ARRAY) {
        if (!IsArray()) Mismatch(vt_, to);
        VARTYPE el = VARTYPE(to & VT_TYPEMASK);
        const VariantArray& a = ArrayData();
        std::vector<Variant> out;
        out.reserve(a.Elements.size());
        for (const auto& e : a.Elements) out.push_back(el == VT_VARIANT ? e : e.ChangeType(el));
        return Array(el, std::move(out), a.LowBound);
    }
    if (IsArray()) Mismatch(vt_, to);
    if (to == VT_EMPTY) return Variant();
    if (to == VT_NULL) return Null();
    if (vt_ == VT_NULL) Mismatch(vt_, to);

    // Strings.
    if (to == VT_BSTR) return Str(ToText());
    if (to == VT_STRING) return AnsiStr(ToText());

    // Source as a number: integral (exact) or floating.
    bool integral = false;
    bool isUnsigned = false;
    int64_t iv = 0;
    uint64_t uv = 0;
    long double fv = 0;
    if (vt_ == VT_EMPTY) {
        integral = true;
    } else if (vt_ == VT_BOOL) {
        integral = true;
        iv = i_ ? -1 : 0;
    } else if (IsSignedKind(vt_)) {
        integral = true;
        iv = i_;
    } else if (IsUnsignedKind(vt_)) {
        integral = true;
        isUnsigned = true;
        uv = u_;
    } else if (IsFloatKind(vt_)) {
        fv = d_;
    } else if (vt_ == VT_CY) {
        fv = (long double)i_ / 10000.0L;
        if (to == VT_BOOL) return Bool(i_ != 0);
    } else if (IsString()) {
        std::string_view t = Trim(s_);
        if (to == VT_BOOL) {
            if (EqualsNoCase(t, "true")) return Bool(true);
            if (EqualsNoCase(t, "false")) return Bool(false);
        }
        if (to == VT_DATE) {
            double d;
            if (ParseDateTimeText(t, d)) return Date(d);
        }
        if (to == VT_R4) {  // rounded once, straight from the text
            float f;
            if (ParseSingle(t, f)) return R4(f);
            double d;
            if (ParseFloat(t, d)) Overflow(vt_, to);
            Mismatch(vt_, to);
        }
        if (to == VT_R8) {  // also keeps the sign of "-0"
            double d;
            if (ParseFloat(t, d)) return R8(d);
            Mismatch(vt_, to);
        }
        if (ParseInt64(t, iv)) {
            integral = true;
        } else if (ParseUInt64(t, uv)) {
            integral = true;
            isUnsigned = true;
        } else {
            double d;
            if (!ParseFloat(t, d)) Mismatch(vt_, to);
            fv = d;
        }
    } else {
        Mismatch(vt_, to);
    }

    if (to == VT_BOOL) {
        if (integral) return Bool(isUnsigned ? uv != 0 : iv != 0);
        return Bool(fv != 0);
    }
    if (to == VT_R4 || to == VT_R8 || to == VT_DATE || to == VT_CY) {
        long double f = integral ? (isUnsigned ? (long double)uv : (long double)iv) : fv;
        if (to == VT_R4) {
            // Values up to half a unit beyond the largest single round to it.
            if (std::isfinite(f) && std::fabs(f) >= 0x1.ffffffp127L) Overflow(vt_, to);
            return R4(float(f));
        }
        if (to == VT_R8) return R8(double(f));
        if (to == VT_DATE) {
            if (!std::isfinite(f) || std::fabs(f) > 2958466.0L) Overflow(vt_, to);
            return Date(double(f));
        }
        if (!std::isfinite(f)) Overflow(vt_, to);
        return CurrencyFromDouble(double(f));
    }
    if (IsSignedKind(to) || IsUnsignedKind(to)) {
        long double lo, hi;
        IntRange(to, lo, hi);
        if (vt_ == VT_BOOL && IsUnsignedKind(to) && iv == -1) {
            // Automation's true (all bits set) in an unsigned kind.
            Variant v;
            v.vt_ = to;
            v.u_ = uint64_t(hi);
            return v;
        }
        if (integral) {
            bool fits = isUnsigned ? (long double)uv <= hi
                                   : ((long double)iv >= lo && (long double)iv <= hi);
            if (!fits) Overflow(vt_, to);
        } else {
            if (!std::isfinite(fv)) Overflow(vt_, to);
            fv = RoundBankers(fv);
            if (fv < lo || fv > hi) Overflow(vt_, to);
        }
        Variant v;
        v.vt_ = to;
        if (IsUnsignedKind(to)) {
            v.u_ = integral ? (isUnsigned ? uv : uint64_t(iv)) : uint64_t(fv);
        } else {
            v.i_ = integral ? (isUnsigned ? int64_t(uv) : iv) : int64_t(fv);
        }
        return v;
    }
    Mismatch(vt_, to);
}

bool operator==(const Variant& a, const Variant& b) {
    if (a.vt_ != b.vt_) return false;
    if (a.buffer_ || b.buffer_) {  // byte arrays, one or both as a buffer
        return a.ArrayLowBound() == b.ArrayLowBound() &&
               (a.buffer_ && b.buffer_ ? a.s_ == b.s_ : a.AsBytes() == b.AsBytes());
    }
    if (a.arr_ || b.arr_) {
        if (!a.arr_ || !b.arr_) return false;
        return a.arr_->LowBound == b.arr_->LowBound && a.arr_->Elements == b.arr_->Elements;
    }
    switch (a.vt_) {
        case VT_EMPTY:
        case VT_NULL:
            return true;
        case VT_BSTR:
        case VT_STRING:
            return a.s_ == b.s_;
        case VT_R4:
        case VT_R8:
        case VT_DATE:
            return (std::isnan(a.d_) && std::isnan(b.d_)) ||
                   std::memcmp(&a.d_, &b.d_, sizeof(double)) == 0;
        default:
            return a.u_ == b.u_;
    }
}

}  // namespace velqor
