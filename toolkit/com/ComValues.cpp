#include "ComValues.h"

#include <cmath>
#include <cstring>

#include "com/runtime/ComText.h"
#include "contract/VelqorDateTime.h"

namespace velqor {

namespace {

// Size of the value part of a scalar of type vt in a VARIANT or array cell.
size_t ScalarSize(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
            return 1;
        case VT_I2:
        case VT_UI2:
        case VT_BOOL:
            return 2;
        case VT_I4:
        case VT_UI4:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_ERROR:
            return 4;
        case VT_BSTR:
            return sizeof(BSTR);
        default:
            return 8;
    }
}

Variant ScalarFromOle(const VARIANT& v) {
    switch (v.vt) {
        case VT_EMPTY:
            return Variant();
        case VT_NULL:
            return Variant::Null();
        case VT_I1:
            return Variant::I1(int8_t(v.cVal));
        case VT_UI1:
            return Variant::UI1(v.bVal);
        case VT_I2:
            return Variant::I2(v.iVal);
        case VT_UI2:
            return Variant::UI2(v.uiVal);
        case VT_I4:
            return Variant::I4(v.lVal);
        case VT_UI4:
            return Variant::UI4(v.ulVal);
        case VT_INT:
            return Variant::Int(v.intVal);
        case VT_UINT:
            return Variant::UInt(v.uintVal);
        case VT_I8:
            return Variant::I8(v.llVal);
        case VT_UI8:
            return Variant::UI8(v.ullVal);
        case VT_R4:
            return Variant::R4(v.fltVal);
        case VT_R8:
            return Variant::R8(v.dblVal);
        case VT_CY:
            return Variant::Currency(v.cyVal.int64);
        case VT_DATE:
            return Variant::Date(v.date);
        case VT_BOOL:
            return Variant::Bool(v.boolVal != VARIANT_FALSE);
        case VT_ERROR:
            return Variant::Error(v.scode);
        case VT_BSTR:
            return Variant::Str(BstrToText(v.bstrVal));
        default:
            throw EOleSysError(DISP_E_BADVARTYPE);
    }
}

Variant ArrayFromOle(VARTYPE elementVt, SAFEARRAY* array) {
    if (!array) return Variant::Array(elementVt, {});
    if (SafeArrayGetDim(array) != 1) throw EOleSysError(DISP_E_BADVARTYPE);
    LONG low = 0, high = -1;
    RaiseIfFailed(SafeArrayGetLBound(array, 1, &low));
    RaiseIfFailed(SafeArrayGetUBound(array, 1, &high));
    // A descriptor that does not match the VARIANT's element type is refused before any cell
    // is read, so a malformed array cannot make the reader run past its data.
    const size_t cell = SafeArrayGetElemsize(array);
    if (cell != (elementVt == VT_VARIANT ? sizeof(VARIANT) : ScalarSize(elementVt)))
        throw EOleSysError(DISP_E_TYPEMISMATCH);
    void* data = nullptr;
    RaiseIfFailed(SafeArrayAccessData(array, &data));
    std::vector<Variant> elements;
    try {
        for (int64_t i = 0; i <= int64_t(high) - low; ++i) {
            const char* at = static_cast<const char*>(data) + size_t(i) * cell;
            if (elementVt == VT_VARIANT) {
                elements.push_back(VariantFromOle(*reinterpret_cast<const VARIANT*>(at)));
            } else {
                VARIANT e;  // a shallow view of the cell
                VariantInit(&e);
                e.vt = elementVt;
                std::memcpy(&e.llVal, at, ScalarSize(elementVt));
                elements.push_back(ScalarFromOle(e));
            }
        }
    } catch (...) {
        SafeArrayUnaccessData(array);
        throw;
    }
    SafeArrayUnaccessData(array);
    return Variant::Array(elementVt, std::move(elements), low);
}

// Fills a cleared VARIANT with a scalar (no arrays).
void ScalarToOle(const Variant& v, VARIANT& out) {
    switch (v.Type()) {
        case VT_EMPTY:
        case VT_NULL:
            break;
        case VT_I1:
            out.cVal = CHAR(v.RawInt());
            break;
        case VT_I2:
            out.iVal = SHORT(v.RawInt());
            break;
        case VT_I4:
        case VT_INT:
        case VT_ERROR:
            out.lVal = LONG(v.RawInt());
            break;
        case VT_I8:
        case VT_CY:
            out.llVal = v.RawInt();
            break;
        case VT_UI1:
            out.bVal = BYTE(v.RawUInt());
            break;
        case VT_UI2:
            out.uiVal = USHORT(v.RawUInt());
            break;
        case VT_UI4:
        case VT_UINT:
            out.ulVal = ULONG(v.RawUInt());
            break;
        case VT_UI8:
            out.ullVal = v.RawUInt();
            break;
        case VT_R4:
            out.fltVal = float(v.RawDouble());
            break;
        case VT_R8:
        case VT_DATE:
            out.dblVal = v.RawDouble();
            break;
        case VT_BOOL:
            out.boolVal = v.RawInt() ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VT_BSTR:
        case velqor::VT_STRING:
            out.bstrVal = AllocBstr(v.RawString());
            out.vt = VT_BSTR;
            return;
        default:
            throw EOleSysError(DISP_E_BADVARTYPE);
    }
    out.vt = v.Type();
}

}  // namespace

Variant VariantFromOle(const VARIANT& value) {
    VARTYPE vt = value.vt;
    if (vt & VT_BYREF) {
        if (!value.byref) throw EOleSysError(E_POINTER);
        VARTYPE base = VARTYPE(vt & ~VT_BYREF);
        if (base == VT_VARIANT) return VariantFromOle(*value.pvarVal);
        VARIANT v;
        VariantInit(&v);
        v.vt = base;
        std::memcpy(&v.llVal, value.byref, (base & VT_ARRAY) ? sizeof(void*) : ScalarSize(base));
        return VariantFromOle(v);
    }
    if (vt & VT_ARRAY) {
        VARTYPE element = VARTYPE(vt & VT_TYPEMASK);
        if (element != VT_VARIANT) {
            VARIANT probe;  // the element kind must be one the toolkit holds
            VariantInit(&probe);
            probe.vt = element;
            if (element == VT_BSTR) probe.bstrVal = nullptr;
            ScalarFromOle(probe);
        }
        return ArrayFromOle(element, value.parray);
    }
    return ScalarFromOle(value);
}

void VariantToOle(const Variant& value, VARIANT& out) {
    RaiseIfFailed(VariantClear(&out));
    if (!value.IsArray()) {
        ScalarToOle(value, out);
        return;
    }
    const VariantArray& data = value.ArrayData();
    VARTYPE element =
        value.ElementType() == velqor::VT_STRING ? VARTYPE(VT_BSTR) : value.ElementType();
    SAFEARRAY* array = SafeArrayCreateVector(element, data.LowBound, ULONG(data.Elements.size()));
    if (!array) {
        static constexpr VARTYPE kHeld[] = {VT_I1, VT_UI1,  VT_I2,   VT_UI2,   VT_I4,   VT_UI4,
                                            VT_I8, VT_UI8,  VT_INT,  VT_UINT,  VT_R4,   VT_R8,
                                            VT_CY, VT_DATE, VT_BOOL, VT_ERROR, VT_BSTR, VT_VARIANT};
        bool held = false;
        for (VARTYPE t : kHeld) held = held || t == element;
        throw EOleSysError(held ? E_OUTOFMEMORY : DISP_E_BADVARTYPE);
    }
    try {
        for (size_t i = 0; i < data.Elements.size(); ++i) {
            LONG index = LONG(data.LowBound + int64_t(i));
            VARIANT e;
            VariantInit(&e);
            VariantToOle(data.Elements[i], e);
            HRESULT hr = element == VT_VARIANT ? SafeArrayPutElement(array, &index, &e)
                         : element == VT_BSTR  ? SafeArrayPutElement(array, &index, e.bstrVal)
                                               : SafeArrayPutElement(array, &index, &e.llVal);
            VariantClear(&e);
            RaiseIfFailed(hr);
        }
    } catch (...) {
        SafeArrayDestroy(array);
        throw;
    }
    out.vt = VARTYPE(VT_ARRAY | element);
    out.parray = array;
}

BSTR AllocBstr(std::string_view utf8) {
    std::u16string w = com::Utf8ToUtf16(utf8);
    BSTR s = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(w.data()), UINT(w.size()));
    if (!s) throw EOleSysError(E_OUTOFMEMORY);
    return s;
}

LPWSTR AllocTaskString(std::string_view utf8) {
    std::u16string w = com::Utf8ToUtf16(utf8);
    auto* s = static_cast<LPWSTR>(CoTaskMemAlloc((w.size() + 1) * sizeof(WCHAR)));
    if (!s) throw EOleSysError(E_OUTOFMEMORY);
    std::memcpy(s, w.c_str(), (w.size() + 1) * sizeof(WCHAR));
    return s;
}

std::string BstrToText(BSTR text) {
    if (!text) return {};
    return com::Utf16ToUtf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(text), SysStringLen(text)));
}

std::string OleStrToText(LPCOLESTR text) { return com::Utf16ToUtf8(text); }

namespace {
constexpr uint64_t kFileTimeYear10000 = 2650467744000000000ULL;  // 10000-01-01 00:00 UTC
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ULL;
}  // namespace

double FileTimeToLocalDateTime(const FILETIME& fileTime) {
    uint64_t ticks = uint64_t(fileTime.dwHighDateTime) << 32 | fileTime.dwLowDateTime;
    if (ticks == 0 || ticks >= kFileTimeYear10000) return 0;
    return FileTimeToLocal(ticks);
}

FILETIME LocalDateTimeToFileTime(double localDateTime) {
    FILETIME ft{0, 0};
    if (!std::isfinite(localDateTime) || localDateTime < -109206 || localDateTime > 2958466)
        return ft;
    double secs = LocalToUnixSeconds(localDateTime);
    double lowest = -double(kUnixEpochFileTime / 10000000);
    double highest = double((kFileTimeYear10000 - kUnixEpochFileTime) / 10000000);
    if (!(secs >= lowest && secs < highest)) return ft;
    uint64_t ticks = LocalToFileTime(localDateTime);
    ft.dwLowDateTime = DWORD(ticks);
    ft.dwHighDateTime = DWORD(ticks >> 32);
    return ft;
}

}  // namespace velqor
