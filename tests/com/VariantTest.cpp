// VARIANT life cycle, VariantChangeType and SAFEARRAYs, with every string and array freed
// exactly once (the fixture checks the books after each test).
#include <cmath>
#include <string>

#include "ComTestSupport.h"
#include "com/runtime/ComEnumerators.h"
#include "com/runtime/ComText.h"

namespace velqor::test {
namespace {

using VariantTest = ComAccountedTest;

VARIANT Make(VARTYPE vt, int64_t i = 0, double d = 0, const char16_t* s = nullptr) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    if (vt == VT_R4) {
        v.fltVal = float(d);
    } else if (vt == VT_R8 || vt == VT_DATE) {
        v.dblVal = d;
    } else if (vt == VT_BSTR) {
        v.bstrVal = SysAllocString(s);
    } else {
        v.llVal = i;
    }
    return v;
}

TEST_F(VariantTest, CopyAndClearOwnStringsAndArrays) {
    ScopedVariant text, copy, arr, arrCopy;
    text.v = Make(VT_BSTR, 0, 0, u"pump");
    ASSERT_EQ(VariantCopy(&copy.v, &text.v), S_OK);
    EXPECT_NE(copy.v.bstrVal, text.v.bstrVal) << "a deep copy";
    EXPECT_EQ(std::u16string(copy.v.bstrVal), u"pump");

    arr.v.vt = VT_ARRAY | VT_BSTR;
    arr.v.parray = SafeArrayCreateVector(VT_BSTR, 1, 2);
    LONG i = 2;
    BSTR b = SysAllocString(u"two");
    ASSERT_EQ(SafeArrayPutElement(arr.v.parray, &i, b), S_OK);
    SysFreeString(b);  // the array holds its own copy
    ASSERT_EQ(VariantCopy(&arrCopy.v, &arr.v), S_OK);
    EXPECT_NE(arrCopy.v.parray, arr.v.parray);
    BSTR got = nullptr;
    ASSERT_EQ(SafeArrayGetElement(arrCopy.v.parray, &i, &got), S_OK);
    EXPECT_EQ(std::u16string(got), u"two");
    SysFreeString(got);
    // Copying over a filled VARIANT frees what it held.
    ASSERT_EQ(VariantCopy(&copy.v, &arr.v), S_OK);
    EXPECT_EQ(copy.v.vt, VT_ARRAY | VT_BSTR);
}

TEST_F(VariantTest, InterfacesInVariantsAreCountedOncePerCopy) {
    auto object = com::MakeObject<com::GuidEnumerator>(std::vector<GUID>{});
    {
        ScopedVariant a, b;
        a.v.vt = VT_UNKNOWN;
        a.v.punkVal = object.Get();
        object->AddRef();
        ASSERT_EQ(VariantCopy(&b.v, &a.v), S_OK);
        EXPECT_EQ(object->RefCount(), 3u);
    }
    EXPECT_EQ(object->RefCount(), 1u);
}

TEST_F(VariantTest, ClearRefusesUnknownTypesWithoutTouchingThem) {
    VARIANT v;
    VariantInit(&v);
    v.vt = 0x7F;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    EXPECT_EQ(v.vt, 0x7F);
}

struct Change {
    VARIANT from;
    VARTYPE to;
    HRESULT hr;
    int64_t i;         // expected integer (I*, UI*, BOOL, CY scaled)
    double d;          // expected float
    const char* text;  // expected BSTR text
};

TEST_F(VariantTest, ChangeTypeConvertsAndReportsOverflow) {
    const Change table[] = {
        {Make(VT_R8, 0, 2.5), VT_I4, S_OK, 2, 0, nullptr},  // half to even
        {Make(VT_R8, 0, 3.5), VT_I4, S_OK, 4, 0, nullptr},
        {Make(VT_R8, 0, -2.5), VT_I2, S_OK, -2, 0, nullptr},
        {Make(VT_I4, 300), VT_UI1, DISP_E_OVERFLOW, 0, 0, nullptr},
        {Make(VT_I4, -1), VT_UI4, DISP_E_OVERFLOW, 0, 0, nullptr},
        {Make(VT_I4, 40000), VT_I2, DISP_E_OVERFLOW, 0, 0, nullptr},
        {Make(VT_R8, 0, 1e20), VT_I8, DISP_E_OVERFLOW, 0, 0, nullptr},
        {Make(VT_R8, 0, NAN), VT_I4, DISP_E_OVERFLOW, 0, 0, nullptr},
        {Make(VT_R8, 0, 1e39), VT_R4, DISP_E_OVERFLOW, 0, 0, nullptr},
        {Make(VT_UI8, -1), VT_I8, DISP_E_OVERFLOW, 0, 0, nullptr},
        {Make(VT_I8, 255), VT_UI1, S_OK, 255, 0, nullptr},
        {Make(VT_BOOL, VARIANT_TRUE), VT_I4, S_OK, -1, 0, nullptr},
        {Make(VT_BOOL, VARIANT_TRUE), VT_UI1, S_OK, 255, 0, nullptr},
        {Make(VT_I4, 7), VT_BOOL, S_OK, VARIANT_TRUE, 0, nullptr},
        {Make(VT_R8, 0, 1.23456), VT_CY, S_OK, 12346, 0, nullptr},
        {Make(VT_CY, 25000), VT_I4, S_OK, 2, 0, nullptr},  // 2.5 -> 2
        {Make(VT_CY, 35000), VT_I4, S_OK, 4, 0, nullptr},
        {Make(VT_I8, INT64_MAX / 1000), VT_CY, DISP_E_OVERFLOW, 0, 0, nullptr},
        {Make(VT_DATE, 0, 45000.5), VT_R8, S_OK, 0, 45000.5, nullptr},
        {Make(VT_R8, 0, 3e6), VT_DATE, DISP_E_OVERFLOW, 0, 0, nullptr},
        {Make(VT_BSTR, 0, 0, u" 42 "), VT_I4, S_OK, 42, 0, nullptr},
        {Make(VT_BSTR, 0, 0, u"1.5"), VT_R8, S_OK, 0, 1.5, nullptr},
        {Make(VT_BSTR, 0, 0, u"4x"), VT_I4, DISP_E_TYPEMISMATCH, 0, 0, nullptr},
        {Make(VT_BSTR, 0, 0, u"70000"), VT_I2, DISP_E_OVERFLOW, 0, 0, nullptr},
        {Make(VT_BSTR, 0, 0, u"True"), VT_BOOL, S_OK, VARIANT_TRUE, 0, nullptr},
        {Make(VT_NULL), VT_I4, DISP_E_TYPEMISMATCH, 0, 0, nullptr},
        {Make(VT_EMPTY), VT_I4, S_OK, 0, 0, nullptr},
        {Make(VT_I4, -17), VT_BSTR, S_OK, 0, 0, "-17"},
        {Make(VT_R8, 0, 0.1), VT_BSTR, S_OK, 0, 0, "0.1"},
        {Make(VT_R4, 0, 0.1), VT_BSTR, S_OK, 0, 0, "0.1"},
        {Make(VT_R8, 0, 1e20), VT_BSTR, S_OK, 0, 0, "1E+20"},
        {Make(VT_CY, -12345), VT_BSTR, S_OK, 0, 0, "-1.2345"},
        {Make(VT_BOOL, VARIANT_FALSE), VT_BSTR, S_OK, 0, 0, "0"},
        {Make(VT_UI8, -1), VT_BSTR, S_OK, 0, 0, "18446744073709551615"},
    };
    for (const auto& row : table) {
        VARIANT from = row.from, out;
        VariantInit(&out);
        HRESULT hr = VariantChangeType(&out, &from, 0, row.to);
        SCOPED_TRACE("from vt " + std::to_string(from.vt) + " to " + std::to_string(row.to));
        EXPECT_EQ(hr, row.hr);
        if (SUCCEEDED(hr)) {
            EXPECT_EQ(out.vt, row.to);
            if (row.text) {
                EXPECT_EQ(com::Utf16ToUtf8(out.bstrVal), row.text);
            } else if (row.to == VT_R8 || row.to == VT_DATE) {
                EXPECT_EQ(out.dblVal, row.d);
            } else {
                VARIANT wide;
                VariantInit(&wide);
                ASSERT_EQ(VariantChangeType(&wide, &out, 0, row.to == VT_CY ? VT_CY : VT_I8), S_OK);
                EXPECT_EQ(row.to == VT_CY ? wide.cyVal.int64 : wide.llVal, row.i);
            }
        } else {
            EXPECT_EQ(out.vt, VT_EMPTY) << "a failed change leaves the destination alone";
        }
        VariantClear(&out);
        VariantClear(&from);
    }
}

TEST_F(VariantTest, ChangeTypeInPlaceAndOnArrays) {
    ScopedVariant v;
    v.v = Make(VT_BSTR, 0, 0, u"12");
    ASSERT_EQ(VariantChangeType(&v.v, &v.v, 0, VT_I4), S_OK) << "the source string is freed";
    EXPECT_EQ(v.v.lVal, 12);

    ScopedVariant arr, conv;
    arr.v.vt = VT_ARRAY | VT_R8;
    arr.v.parray = SafeArrayCreateVector(VT_R8, -1, 3);
    double* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(arr.v.parray, reinterpret_cast<void**>(&data)), S_OK);
    data[0] = 1.5, data[1] = -7, data[2] = 2e9;
    SafeArrayUnaccessData(arr.v.parray);
    ASSERT_EQ(VariantChangeType(&conv.v, &arr.v, 0, VT_ARRAY | VT_BSTR), S_OK);
    LONG lb = 0, idx = 0;
    SafeArrayGetLBound(conv.v.parray, 1, &lb);
    EXPECT_EQ(lb, -1) << "bounds are kept";
    BSTR s = nullptr;
    ASSERT_EQ(SafeArrayGetElement(conv.v.parray, &idx, &s), S_OK);
    EXPECT_EQ(com::Utf16ToUtf8(s), "-7");
    SysFreeString(s);
    ScopedVariant narrow;
    EXPECT_EQ(VariantChangeType(&narrow.v, &arr.v, 0, VT_ARRAY | VT_I2), DISP_E_OVERFLOW)
        << "one element out of range fails the whole array, leaving nothing allocated";
    EXPECT_EQ(VariantChangeType(&narrow.v, &arr.v, 0, VT_I4), DISP_E_TYPEMISMATCH);
}

TEST_F(VariantTest, SafeArrayBoundsElementsAndLocks) {
    SAFEARRAYBOUND bounds[2] = {{3, 1}, {2, -5}};  // dims: [1..3] x [-5..-4]
    SAFEARRAY* a = SafeArrayCreate(VT_I4, 2, bounds);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(SafeArrayGetDim(a), 2u);
    EXPECT_EQ(SafeArrayGetElemsize(a), 4u);
    VARTYPE vt = 0;
    EXPECT_EQ(SafeArrayGetVartype(a, &vt), S_OK);
    EXPECT_EQ(vt, VT_I4);
    LONG lb = 0, ub = 0;
    EXPECT_EQ(SafeArrayGetLBound(a, 2, &lb), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(a, 2, &ub), S_OK);
    EXPECT_EQ(lb, -5);
    EXPECT_EQ(ub, -4);
    EXPECT_EQ(SafeArrayGetUBound(a, 3, &ub), DISP_E_BADINDEX);
    EXPECT_EQ(a->rgsabound[0].lLbound, -5) << "stored right-most dimension first";

    LONG at[2] = {2, -4};
    LONG value = 99;
    ASSERT_EQ(SafeArrayPutElement(a, at, &value), S_OK);
    int32_t* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(a, reinterpret_cast<void**>(&data)), S_OK);
    EXPECT_EQ(data[(2 - 1) + 3 * (-4 + 5)], 99) << "the first index varies fastest";
    EXPECT_EQ(SafeArrayDestroy(a), DISP_E_ARRAYISLOCKED);
    SafeArrayUnaccessData(a);
    LONG outside[2] = {4, -4};
    EXPECT_EQ(SafeArrayGetElement(a, outside, &value), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayDestroy(a), S_OK);

    SAFEARRAY* empty = SafeArrayCreateVector(VT_VARIANT, 0, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SafeArrayGetUBound(empty, 1, &ub), S_OK);
    EXPECT_EQ(ub, -1);
    SafeArrayDestroy(empty);
    EXPECT_EQ(SafeArrayCreateVector(VT_RECORD, 0, 1), nullptr);
}

}  // namespace
}  // namespace velqor::test
