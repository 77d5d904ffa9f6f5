// Variant: a dynamically typed value tagged with its variant type number.
//
// Kinds: empty, null, signed and unsigned integers of 8/16/32/64 bits (and the native INT/UINT),
// 32- and 64-bit floats, currency (64-bit integer scaled by 10000), date (days since 1899-12-30,
// local time), boolean, error code, wide string (VT_BSTR) and 8-bit string (VT_STRING, 0x100),
// both held as UTF-8, and one-dimensional arrays with a lower bound (VT_ARRAY | element kind;
// VT_ARRAY | VT_UI1 is the byte array, VT_ARRAY | VT_VARIANT an array of mixed values).
// A byte array lives as one byte buffer (Bytes, BytesView); its element form is made only when
// asked for (ArrayData), so megabytes of binary data cost megabytes, not a Variant per byte.
//
// Text forms (ToText, the standard variant-to-text conversion):
//   booleans "True" / "False"; integers in decimal; VT_R8 with 15 significant digits and VT_R4
//   with 7, "." as decimal separator whatever the locale, scientific form "1.5E20" outside
//   1E-4 .. 1E15; NaN "NAN", infinities "INF" / "-INF"; currency with up to four decimals;
//   dates "YYYY-MM-DD HH:MM:SS" (".mmm" added when there are milliseconds; the date alone at
//   midnight and the time alone on day 0); errors as their signed decimal code; empty and null
//   as the empty text. Arrays have no text of their own (ToText raises).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "contract/VelqorError.h"
#include "runtime/VarType.h"

namespace velqor {

// A value that does not fit the requested kind, or a kind that cannot be converted.
class EVariantError : public Exception {
  public:
    using Exception::Exception;
};

class Variant;

struct VariantArray {
    int32_t LowBound = 0;
    std::vector<Variant> Elements;
    int32_t HighBound() const;  // defined below, once Variant is complete
};

class Variant {
  public:
    Variant() = default;  // empty
    Variant(const Variant& o);
    Variant(Variant&& o) noexcept = default;
    Variant& operator=(const Variant& o);
    Variant& operator=(Variant&& o) noexcept = default;
    ~Variant() = default;

    // Natural kinds of C++ values.
    Variant(bool v) : Variant(Bool(v)) {}
    Variant(int32_t v) : Variant(I4(v)) {}
    Variant(int64_t v) : Variant(I8(v)) {}
    Variant(double v) : Variant(R8(v)) {}
    Variant(const char* v) : Variant(Str(v)) {}
    Variant(std::string v) : Variant(Str(std::move(v))) {}

    static Variant Null();
    static Variant I1(int8_t v);
    static Variant UI1(uint8_t v);
    static Variant I2(int16_t v);
    static Variant UI2(uint16_t v);
    static Variant I4(int32_t v);
    static Variant UI4(uint32_t v);
    static Variant I8(int64_t v);
    static Variant UI8(uint64_t v);
    static Variant Int(int32_t v);
    static Variant UInt(uint32_t v);
    static Variant R4(float v);
    static Variant R8(double v);
    static Variant Currency(int64_t scaledBy10000);
    static Variant CurrencyFromDouble(double v);  // rounds to four decimals
    static Variant Date(double v);
    static Variant Bool(bool v);
    static Variant Error(int32_t code);
    static Variant Str(std::string utf8);      // VT_BSTR
    static Variant AnsiStr(std::string text);  // VT_STRING (0x100)
    // One-dimensional array of elementType (VT_VARIANT for mixed); elements are converted to
    // elementType unless it is VT_VARIANT.
    static Variant Array(VARTYPE elementType, std::vector<Variant> elements, int32_t lowBound = 0);
    static Variant Bytes(std::string_view bytes);   // VT_ARRAY | VT_UI1
    static Variant TakeBytes(std::string&& bytes);  // the same, taking the buffer over

    VARTYPE Type() const { return vt_; }
    VARTYPE ElementType() const { return VARTYPE(vt_ & VT_TYPEMASK); }
    bool IsEmpty() const { return vt_ == VT_EMPTY; }
    bool IsNull() const { return vt_ == VT_NULL; }
    bool IsArray() const { return (vt_ & VT_ARRAY) != 0; }
    bool IsString() const { return vt_ == VT_BSTR || vt_ == VT_STRING; }
    bool IsNumeric() const;  // integers, floats, currency (not bool, not date)

    void Clear() { *this = Variant(); }

    // Converting reads; raise EVariantError when the value does not fit or cannot convert.
    bool AsBool() const;
    int32_t AsInt32() const;
    uint32_t AsUInt32() const;
    int64_t AsInt64() const;
    uint64_t AsUInt64() const;
    double AsDouble() const;
    double AsDate() const;
    int64_t AsCurrency() const;  // scaled by 10000
    std::string AsString() const { return ToText(); }

    // Raw access to what the kind holds (no conversion); undefined for other kinds.
    int64_t RawInt() const { return i_; }
    uint64_t RawUInt() const { return u_; }
    double RawDouble() const { return d_; }
    const std::string& RawString() const { return s_; }

    // Array access; raise EVariantError for a non-array. For a byte array these build its
    // element form (the mutable one drops the buffer, since the elements may then change).
    const VariantArray& ArrayData() const;
    VariantArray& ArrayData();
    // Number of elements and lower bound of an array, without building elements.
    size_t ArrayCount() const;
    int32_t ArrayLowBound() const;
    std::string AsBytes() const;  // the bytes of a VT_ARRAY | VT_UI1
    // The bytes of a byte array held as one buffer; raises for other kinds.
    std::string_view BytesView() const;

    // The value converted to another kind (arrays element by element).
    Variant ChangeType(VARTYPE vt) const;
    std::string ToText() const;

    // Same kind and same value (arrays element-wise, floats bit-exact except NaN == NaN).
    friend bool operator==(const Variant& a, const Variant& b);

  private:
    VARTYPE vt_ = VT_EMPTY;
    bool buffer_ = false;  // a byte array held in s_, its lower bound in i_
    union {
        int64_t i_ = 0;  // signed integers, currency, error, bool (0/1)
        uint64_t u_;     // unsigned integers
        double d_;       // floats, date
    };
    std::string s_;                              // strings; the bytes of a byte buffer
    mutable std::unique_ptr<VariantArray> arr_;  // arrays; a byte buffer's element form
};

inline int32_t VariantArray::HighBound() const { return LowBound + int32_t(Elements.size()) - 1; }

// Text of a double with `digits` significant digits, "." separator, trailing zeros dropped,
// fixed between 1E-4 and 1E15, else "d.dddE[-]x".
std::string FormatFloatGeneral(long double v, int digits);
// Lays out the significant digits of a number whose first digit stands for 10^exp: fixed
// between 1E-4 and 1E15, else "d.dddE[-]x"; a leading "-" when negative.
std::string LayOutDecimal(bool negative, std::string_view digits, int exp);
// Locale-independent decimal float parse of the whole text (blanks around allowed);
// false when the text is not a number.
bool ParseFloat(std::string_view text, double& out);
// The same for a single-precision value, rounded once from the text ("3.4028235e38" is FLT_MAX);
// false also when the text is beyond the single range (a finite text that would be infinity).
bool ParseSingle(std::string_view text, float& out);
// Whole-text decimal integer parse with optional sign; false on junk or overflow.
bool ParseInt64(std::string_view text, int64_t& out);
bool ParseUInt64(std::string_view text, uint64_t& out);

}  // namespace velqor
