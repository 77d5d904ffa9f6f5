// VariantChangeType: numbers of every width, currency, dates as numbers, booleans, BSTR to and
// from numbers and booleans, and arrays element by element. Conversions to integers round half
// to even; values out of the target's range fail with DISP_E_OVERFLOW.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "ComPlatform.h"
#include "ComText.h"

namespace {

// A scalar read out of a VARIANT.
struct Scalar {
    enum Kind { Empty, Null, Int, UInt, Real, Currency, Bool, Text, Error } kind = Empty;
    int64_t i = 0;
    uint64_t u = 0;
    double d = 0;
    bool single = false;  // Real from a VT_R4
    std::string text;

    Scalar() = default;
    Scalar(Kind k, int64_t si, uint64_t ui = 0, double r = 0, bool fromR4 = false)
        : kind(k), i(si), u(ui), d(r), single(fromR4) {}
};

HRESULT Read(const VARIANT& v, Scalar& s) {
    switch (v.vt) {
        case VT_EMPTY:
            s.kind = Scalar::Empty;
            return S_OK;
        case VT_NULL:
            s.kind = Scalar::Null;
            return S_OK;
        case VT_I1:
            s = {Scalar::Int, v.cVal};
            return S_OK;
        case VT_I2:
            s = {Scalar::Int, v.iVal};
            return S_OK;
        case VT_I4:
        case VT_INT:
            s = {Scalar::Int, v.lVal};
            return S_OK;
        case VT_I8:
            s = {Scalar::Int, v.llVal};
            return S_OK;
        case VT_UI1:
            s = {Scalar::UInt, 0, v.bVal};
            return S_OK;
        case VT_UI2:
            s = {Scalar::UInt, 0, v.uiVal};
            return S_OK;
        case VT_UI4:
        case VT_UINT:
            s = {Scalar::UInt, 0, v.ulVal};
            return S_OK;
        case VT_UI8:
            s = {Scalar::UInt, 0, v.ullVal};
            return S_OK;
        case VT_R4:
            s = {Scalar::Real, 0, 0, v.fltVal, true};
            return S_OK;
        case VT_R8:
            s = {Scalar::Real, 0, 0, v.dblVal};
            return S_OK;
        case VT_DATE:
            s = {Scalar::Real, 0, 0, v.date};
            return S_OK;
        case VT_CY:
            s = {Scalar::Currency, v.cyVal.int64};
            return S_OK;
        case VT_BOOL:
            s = {Scalar::Bool, v.boolVal ? -1 : 0};
            return S_OK;
        case VT_ERROR:
            s = {Scalar::Error, v.scode};
            return S_OK;
        case VT_BSTR:
            s.kind = Scalar::Text;
            s.text = velqor::com::Utf16ToUtf8(
                std::u16string_view(v.bstrVal ? v.bstrVal : u"", SysStringLen(v.bstrVal)));
            return S_OK;
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

std::string Trim(const std::string& t) {
    size_t b = t.find_first_not_of(" \t"), e = t.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : t.substr(b, e - b + 1);
}

bool EqualsNoCase(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != b[i]) return false;
    return true;
}

// The value as a double (texts parsed, "." as decimal separator); false when not a number.
bool AsReal(const Scalar& s, double& out) {
    switch (s.kind) {
        case Scalar::Empty:
            out = 0;
            return true;
        case Scalar::Int:
        case Scalar::Bool:
            out = double(s.i);
            return true;
        case Scalar::UInt:
            out = double(s.u);
            return true;
        case Scalar::Real:
            out = s.d;
            return true;
        case Scalar::Currency:
            out = double(s.i) / 10000.0;
            return true;
        case Scalar::Text: {
            std::string t = Trim(s.text);
            if (!t.empty() && t[0] == '+') t.erase(0, 1);
            auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
            return !t.empty() && ec == std::errc() && end == t.data() + t.size();
        }
        default:
            return false;
    }
}

// Integer targets: [lo, hi] as signed, or unsigned up to uhi.
HRESULT ToInteger(const Scalar& s, bool isUnsigned, int64_t lo, int64_t hi, uint64_t uhi,
                  int64_t& si, uint64_t& ui) {
    if (s.kind == Scalar::Null || s.kind == Scalar::Error) return DISP_E_TYPEMISMATCH;
    if (s.kind == Scalar::Bool && isUnsigned) {  // VARIANT_TRUE keeps all bits set
        ui = s.i ? uhi : 0;
        return S_OK;
    }
    if (s.kind == Scalar::Int || s.kind == Scalar::Bool) {
        if (isUnsigned) {
            if (s.i < 0 || uint64_t(s.i) > uhi) return DISP_E_OVERFLOW;
            ui = uint64_t(s.i);
        } else {
            if (s.i < lo || s.i > hi) return DISP_E_OVERFLOW;
            si = s.i;
        }
        return S_OK;
    }
    if (s.kind == Scalar::UInt) {
        if (isUnsigned ? s.u > uhi : s.u > uint64_t(hi)) return DISP_E_OVERFLOW;
        ui = s.u;
        si = int64_t(s.u);
        return S_OK;
    }
    if (s.kind == Scalar::Currency) {  // exact: round the scaled integer half to even
        int64_t q = s.i / 10000, r = s.i % 10000;
        if (r > 5000 || (r == 5000 && (q & 1))) ++q;
        if (r < -5000 || (r == -5000 && (q & 1))) --q;
        Scalar whole{Scalar::Int, q};
        return ToInteger(whole, isUnsigned, lo, hi, uhi, si, ui);
    }
    double d;
    if (!AsReal(s, d)) return DISP_E_TYPEMISMATCH;
    d = std::nearbyint(d);
    if (std::isnan(d)) return DISP_E_OVERFLOW;
    if (isUnsigned) {
        if (d < 0 || d >= 18446744073709551616.0 || d > double(uhi)) return DISP_E_OVERFLOW;
        ui = uint64_t(d);
        if (ui > uhi) return DISP_E_OVERFLOW;
    } else {
        if (d < -9223372036854775808.0 || d >= 9223372036854775808.0) return DISP_E_OVERFLOW;
        si = int64_t(d);
        if (si < lo || si > hi) return DISP_E_OVERFLOW;
    }
    return S_OK;
}

std::string FormatReal(double d, int digits) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*G", digits, d);
    return buf;
}

std::string FormatCurrency(int64_t scaled) {
    bool neg = scaled < 0;
    uint64_t m = neg ? uint64_t(0) - uint64_t(scaled) : uint64_t(scaled);
    std::string text = std::to_string(m / 10000);
    if (uint64_t frac = m % 10000) {
        char buf[8];
        std::snprintf(buf, sizeof buf, ".%04u", unsigned(frac));
        std::string f = buf;
        while (f.back() == '0') f.pop_back();
        text += f;
    }
    return neg ? "-" + text : text;
}

HRESULT ToText(const Scalar& s, USHORT flags, std::string& out) {
    switch (s.kind) {
        case Scalar::Empty:
            out.clear();
            return S_OK;
        case Scalar::Int:
            out = std::to_string(s.i);
            return S_OK;
        case Scalar::UInt:
            out = std::to_string(s.u);
            return S_OK;
        case Scalar::Real:
            out = FormatReal(s.d, s.single ? 7 : 15);
            return S_OK;
        case Scalar::Currency:
            out = FormatCurrency(s.i);
            return S_OK;
        case Scalar::Bool:
            out = (flags & VARIANT_ALPHABOOL) ? (s.i ? "True" : "False") : (s.i ? "-1" : "0");
            return S_OK;
        case Scalar::Text:
            out = s.text;
            return S_OK;
        default:
            return DISP_E_TYPEMISMATCH;
    }
}

HRESULT Write(const Scalar& s, VARTYPE vt, USHORT flags, VARIANT& out) {
    VariantInit(&out);
    int64_t si = 0;
    uint64_t ui = 0;
    HRESULT hr = S_OK;
    constexpr int64_t kMax32 = std::numeric_limits<int32_t>::max();
    constexpr int64_t kMin32 = std::numeric_limits<int32_t>::min();
    switch (vt) {
        case VT_EMPTY:
            break;
        case VT_NULL:
            if (s.kind != Scalar::Null) return DISP_E_TYPEMISMATCH;
            break;
        case VT_I1:
            hr = ToInteger(s, false, -128, 127, 0, si, ui);
            out.cVal = CHAR(si);
            break;
        case VT_I2:
            hr = ToInteger(s, false, -32768, 32767, 0, si, ui);
            out.iVal = SHORT(si);
            break;
        case VT_I4:
        case VT_INT:
            hr = ToInteger(s, false, kMin32, kMax32, 0, si, ui);
            out.lVal = LONG(si);
            break;
        case VT_I8:
            hr = ToInteger(s, false, std::numeric_limits<int64_t>::min(),
                           std::numeric_limits<int64_t>::max(), 0, si, ui);
            out.llVal = si;
            break;
        case VT_UI1:
            hr = ToInteger(s, true, 0, 0, 0xFF, si, ui);
            out.bVal = BYTE(ui);
            break;
        case VT_UI2:
            hr = ToInteger(s, true, 0, 0, 0xFFFF, si, ui);
            out.uiVal = USHORT(ui);
            break;
        case VT_UI4:
        case VT_UINT:
            hr = ToInteger(s, true, 0, 0, 0xFFFFFFFFu, si, ui);
            out.ulVal = ULONG(ui);
            break;
        case VT_UI8:
            hr = ToInteger(s, true, 0, 0, std::numeric_limits<uint64_t>::max(), si, ui);
            out.ullVal = ui;
            break;
        case VT_R4:
        case VT_R8:
        case VT_DATE: {
            double d;
            if (s.kind == Scalar::Text && vt == VT_DATE) return DISP_E_TYPEMISMATCH;
            if (!AsReal(s, d)) return DISP_E_TYPEMISMATCH;
            if (vt == VT_R4) {
                if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
                    return DISP_E_OVERFLOW;
                out.fltVal = float(d);
            } else if (vt == VT_DATE) {
                if (!(d >= -657434.0 && d < 2958466.0)) return DISP_E_OVERFLOW;  // years 100..9999
                out.date = d;
            } else {
                out.dblVal = d;
            }
            break;
        }
        case VT_CY: {
            if (s.kind == Scalar::Currency) {
                out.cyVal.int64 = s.i;
            } else if (s.kind == Scalar::Int || s.kind == Scalar::Bool) {
                if (s.i > INT64_MAX / 10000 || s.i < INT64_MIN / 10000) return DISP_E_OVERFLOW;
                out.cyVal.int64 = s.i * 10000;
            } else {
                double d;
                if (!AsReal(s, d)) return DISP_E_TYPEMISMATCH;
                d = std::nearbyint(d * 10000.0);
                if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0))
                    return DISP_E_OVERFLOW;
                out.cyVal.int64 = int64_t(d);
            }
            break;
        }
        case VT_BOOL: {
            if (s.kind == Scalar::Text) {
                std::string t = Trim(s.text);
                if (EqualsNoCase(t, "true")) {
                    out.boolVal = VARIANT_TRUE;
                    break;
                }
                if (EqualsNoCase(t, "false")) {
                    out.boolVal = VARIANT_FALSE;
                    break;
                }
            }
            double d;
            if (s.kind == Scalar::Int || s.kind == Scalar::Bool || s.kind == Scalar::Currency) {
                d = double(s.i);
            } else if (!AsReal(s, d)) {
                return DISP_E_TYPEMISMATCH;
            }
            out.boolVal = d != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        }
        case VT_ERROR:
            if (s.kind == Scalar::Error) {
                out.scode = SCODE(s.i);
            } else if (s.kind == Scalar::Int || s.kind == Scalar::UInt) {
                hr = ToInteger(s, false, kMin32, kMax32, 0, si, ui);
                out.scode = SCODE(si);
            } else {
                return DISP_E_TYPEMISMATCH;
            }
            break;
        case VT_BSTR: {
            std::string text;
            hr = ToText(s, flags, text);
            if (FAILED(hr)) return hr;
            std::u16string w = velqor::com::Utf8ToUtf16(text);
            out.bstrVal = SysAllocStringLen(w.data(), UINT(w.size()));
            if (!out.bstrVal) return E_OUTOFMEMORY;
            break;
        }
        default:
            return DISP_E_BADVARTYPE;
    }
    if (FAILED(hr)) return hr;
    out.vt = vt;
    return S_OK;
}

HRESULT ChangeScalar(const VARIANT& src, VARTYPE vt, USHORT flags, VARIANT& out) {
    Scalar s;
    HRESULT hr = Read(src, s);
    if (FAILED(hr)) return hr;
    return Write(s, vt, flags, out);
}

// Element-wise conversion of a whole array into a new one of the same shape.
HRESULT ChangeArray(SAFEARRAY* src, VARTYPE elementVt, USHORT flags, SAFEARRAY*& out) {
    VARTYPE srcVt;
    HRESULT hr = SafeArrayGetVartype(src, &srcVt);
    if (FAILED(hr)) return hr;
    UINT dims = SafeArrayGetDim(src);
    std::vector<SAFEARRAYBOUND> bounds(dims);
    size_t count = 1;
    for (UINT d = 0; d < dims; ++d) {
        bounds[d] = src->rgsabound[dims - 1 - d];
        count *= bounds[d].cElements;
    }
    out = SafeArrayCreate(elementVt, dims, bounds.data());
    if (!out) {
        switch (elementVt) {
            case VT_I1:
            case VT_UI1:
            case VT_I2:
            case VT_UI2:
            case VT_I4:
            case VT_UI4:
            case VT_I8:
            case VT_UI8:
            case VT_INT:
            case VT_UINT:
            case VT_R4:
            case VT_R8:
            case VT_CY:
            case VT_DATE:
            case VT_BOOL:
            case VT_ERROR:
            case VT_BSTR:
            case VT_VARIANT:
                return E_OUTOFMEMORY;  // a type arrays hold: the memory ran out
            default:
                return DISP_E_BADVARTYPE;
        }
    }
    std::vector<LONG> index(dims);
    for (size_t n = 0; n < count; ++n) {
        size_t rest = n;
        for (UINT d = 0; d < dims; ++d) {
            index[d] = LONG(bounds[d].lLbound + int64_t(rest % bounds[d].cElements));
            rest /= bounds[d].cElements;
        }
        VARIANT from, to;
        VariantInit(&from);
        VariantInit(&to);
        if (srcVt == VT_VARIANT) {
            hr = SafeArrayGetElement(src, index.data(), &from);
        } else {
            // The cell lands in the value part of the VARIANT, where every member starts.
            hr = SafeArrayGetElement(src, index.data(), &from.llVal);
            from.vt = srcVt;
        }
        if (SUCCEEDED(hr)) {
            if (elementVt == VT_VARIANT) {
                to = from;
                VariantInit(&from);
            } else {
                hr = VariantChangeType(&to, &from, flags, elementVt);
            }
        }
        if (SUCCEEDED(hr)) {
            void* cell = elementVt == VT_VARIANT  ? static_cast<void*>(&to)
                         : (elementVt == VT_BSTR) ? static_cast<void*>(to.bstrVal)
                                                  : static_cast<void*>(&to.llVal);
            hr = SafeArrayPutElement(out, index.data(), cell);
        }
        VariantClear(&from);
        VariantClear(&to);
        if (FAILED(hr)) {
            SafeArrayDestroy(out);
            out = nullptr;
            return hr;
        }
    }
    return S_OK;
}

}  // namespace

HRESULT VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID, USHORT wFlags,
                            VARTYPE vt) {
    if (!pvargDest || !pvarSrc) return E_INVALIDARG;
    VARIANT src = *pvarSrc;  // shallow: what a reference points to
    if (src.vt & VT_BYREF) {
        VARTYPE base = VARTYPE(src.vt & ~VT_BYREF);
        if (!src.byref) return E_INVALIDARG;
        if (base == VT_VARIANT) {
            src = *src.pvarVal;
        } else {
            size_t size = (base & VT_ARRAY)    ? sizeof(void*)
                          : base == VT_DECIMAL ? sizeof(DECIMAL)
                          : (base == VT_BSTR || base == VT_UNKNOWN || base == VT_DISPATCH)
                              ? sizeof(void*)
                              : 8;
            if (base == VT_I1 || base == VT_UI1) size = 1;
            if (base == VT_I2 || base == VT_UI2 || base == VT_BOOL) size = 2;
            if (base == VT_I4 || base == VT_UI4 || base == VT_INT || base == VT_UINT ||
                base == VT_R4 || base == VT_ERROR)
                size = 4;
            VARIANT v;
            VariantInit(&v);
            std::memcpy(&v.llVal, src.byref, size);
            v.vt = base;
            src = v;
        }
    }
    VARIANT result;
    VariantInit(&result);
    HRESULT hr;
    if (src.vt == vt) {
        hr = VariantCopy(&result, &src);
    } else if (vt & VT_ARRAY) {
        if (!(src.vt & VT_ARRAY) || (vt & ~(VT_ARRAY | VT_TYPEMASK))) return DISP_E_TYPEMISMATCH;
        SAFEARRAY* converted = nullptr;
        hr = ChangeArray(src.parray, VARTYPE(vt & VT_TYPEMASK), wFlags, converted);
        result.vt = vt;
        result.parray = converted;
    } else if (src.vt & VT_ARRAY) {
        return DISP_E_TYPEMISMATCH;
    } else {
        hr = ChangeScalar(src, vt, wFlags, result);
    }
    if (FAILED(hr)) return hr;
    // The source may be the destination: it is cleared only once the result exists.
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *pvargDest = result;
    return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                          VARTYPE vt) {
    return VariantChangeTypeEx(pvargDest, pvarSrc, 0, wFlags, vt);
}
