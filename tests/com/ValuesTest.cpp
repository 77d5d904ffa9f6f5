// Values at the COM boundary: every kind the toolkit holds survives Variant -> VARIANT ->
// Variant, arrays keep their bounds, and FILETIMEs convert through the pinned time zone.
#include <cstdlib>
#include <ctime>

#include "ComTestSupport.h"
#include "com/ComValues.h"
#include "contract/VelqorDateTime.h"

namespace velqor::test {
namespace {

using ValuesTest = ComAccountedTest;

TEST_F(ValuesTest, EveryKindRoundTripsThroughAVariant) {
    const double date = EncodeDateTime(2026, 3, 29, 2, 30, 15, 250);
    struct {
        Variant value;
        VARTYPE vt;  // what the VARIANT carries
    } const rows[] = {
        {Variant(), VT_EMPTY},
        {Variant::Null(), VT_NULL},
        {Variant::I1(-5), VT_I1},
        {Variant::UI1(200), VT_UI1},
        {Variant::I2(-32768), VT_I2},
        {Variant::UI2(65535), VT_UI2},
        {Variant::I4(INT32_MIN), VT_I4},
        {Variant::UI4(UINT32_MAX), VT_UI4},
        {Variant::I8(INT64_MIN), VT_I8},
        {Variant::UI8(UINT64_MAX), VT_UI8},
        {Variant::Int(-7), VT_INT},
        {Variant::UInt(7), VT_UINT},
        {Variant::R4(1.5f), VT_R4},
        {Variant::R8(-0.1), VT_R8},
        {Variant::Currency(-123456789), VT_CY},
        {Variant::Date(date), VT_DATE},
        {Variant::Bool(true), VT_BOOL},
        {Variant::Bool(false), VT_BOOL},
        {Variant::Error(int32_t(0x80004005)), VT_ERROR},
        {Variant::Str(std::string("T\xC3\xA4nk \xF0\x9F\x98\x80\0end", 14)), VT_BSTR},
        {Variant::Str(""), VT_BSTR},
        {Variant::Array(VT_I2, {Variant::I2(1), Variant::I2(-2), Variant::I2(3)}, -2),
         VT_ARRAY | VT_I2},
        {Variant::Array(VT_BSTR, {Variant::Str("a"), Variant::Str("")}, 5), VT_ARRAY | VT_BSTR},
        {Variant::Array(VT_DATE, {Variant::Date(date)}, 1), VT_ARRAY | VT_DATE},
        {Variant::Array(VT_BOOL, {Variant::Bool(true), Variant::Bool(false)}), VT_ARRAY | VT_BOOL},
        {Variant::Array(VT_VARIANT,
                        {Variant::I4(1), Variant::Str("x"), Variant::Null(),
                         Variant::Array(VT_R8, {Variant::R8(2.5)}, 3)},
                        1),
         VT_ARRAY | VT_VARIANT},
        {Variant::Bytes(std::string("\0\xFF", 2)), VT_ARRAY | VT_UI1},
        {Variant::Array(VT_UI8, {}, 10), VT_ARRAY | VT_UI8},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("vt " + std::to_string(row.value.Type()));
        ScopedVariant v;
        VariantToOle(row.value, v.v);
        EXPECT_EQ(v.v.vt, row.vt);
        EXPECT_EQ(VariantFromOle(v.v), row.value);
        if (row.vt & VT_ARRAY) {
            LONG lb = 0;
            SafeArrayGetLBound(v.v.parray, 1, &lb);
            EXPECT_EQ(lb, row.value.ArrayData().LowBound);
        }
    }
    ScopedVariant ansi;
    VariantToOle(Variant::AnsiStr("plain"), ansi.v);
    EXPECT_EQ(ansi.v.vt, VT_BSTR) << "8-bit strings travel as BSTRs";
    EXPECT_EQ(VariantFromOle(ansi.v), Variant::Str("plain"));
}

TEST_F(ValuesTest, ReferencesAreFollowedAndForeignKindsRefused) {
    LONG n = 42;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_I4;
    ref.plVal = &n;
    EXPECT_EQ(VariantFromOle(ref), Variant::I4(42));

    auto expectRefused = [](const VARIANT& v) {
        try {
            VariantFromOle(v);
            ADD_FAILURE() << "accepted vt " << v.vt;
        } catch (const EOleSysError& e) {
            EXPECT_EQ(e.ErrorCode(), DISP_E_BADVARTYPE);
        }
    };
    VARIANT unknown;
    VariantInit(&unknown);
    unknown.vt = VT_UNKNOWN;
    expectRefused(unknown);
    ScopedVariant matrix;
    SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
    matrix.v.vt = VT_ARRAY | VT_I4;
    matrix.v.parray = SafeArrayCreate(VT_I4, 2, bounds);
    expectRefused(matrix.v);

    ScopedVariant mismatched;  // says doubles, holds 32-bit integers
    mismatched.v.vt = VT_ARRAY | VT_R8;
    mismatched.v.parray = SafeArrayCreateVector(VT_I4, 0, 3);
    try {
        VariantFromOle(mismatched.v);
        ADD_FAILURE() << "read an array whose cells do not match its type";
    } catch (const EOleSysError& e) {
        EXPECT_EQ(e.ErrorCode(), DISP_E_TYPEMISMATCH);
    }
    EXPECT_EQ(mismatched.v.parray->cLocks, 0u) << "the array is left unlocked";
}

// Every allocation failing in turn: each conversion either completes or reports running out
// of memory, and leaves nothing allocated either way.
TEST_F(ValuesTest, RunningOutOfMemoryAtAnyStepLeaksNothing) {
    const Variant texts = Variant::Array(
        VT_VARIANT,
        {Variant::Str("one"), Variant::Array(VT_BSTR, {Variant::Str("two")}, 2), Variant::I4(3)});
    int completed = 0, failed = 0;
    for (int64_t budget = 0; budget < 40; ++budget) {
        ScopedVariant v, copy, changed;
        com::FailAllocationsAfter(budget);
        try {
            VariantToOle(texts, v.v);
            ++completed;
        } catch (const EOleSysError& e) {
            EXPECT_EQ(e.ErrorCode(), E_OUTOFMEMORY);
            ++failed;
        }
        if (v.v.vt != VT_EMPTY) {
            HRESULT hr = VariantCopy(&copy.v, &v.v);
            EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY) << hr;
            hr = VariantChangeType(&changed.v, &v.v, 0, VT_ARRAY | VT_BSTR);
            EXPECT_TRUE(hr == S_OK || hr == E_OUTOFMEMORY || hr == DISP_E_TYPEMISMATCH) << hr;
        }
        com::FailAllocationsAfter(-1);
    }
    EXPECT_GT(failed, 0);
    EXPECT_GT(completed, 0);
}

class PinnedZone {
  public:
    explicit PinnedZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old, had_ = true;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~PinnedZone() {
        had_ ? setenv("TZ", old_.c_str(), 1) : unsetenv("TZ");
        tzset();
    }

  private:
    bool had_ = false;
    std::string old_;
};

FILETIME FileTimeOfUtc(double utcDays) {
    int64_t ms = DateTimeToMs(utcDays) - DateTimeToMs(EncodeDateTime(1601, 1, 1));
    uint64_t ticks = uint64_t(ms) * 10000;
    return FILETIME{DWORD(ticks), DWORD(ticks >> 32)};
}

TEST(FileTimes, LocalDateTimesConvertWithTheZoneRulesOfTheirDate) {
    PinnedZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
    struct {
        double local, utc;
    } const rows[] = {
        {EncodeDateTime(2026, 1, 15, 12, 0, 0, 125), EncodeDateTime(2026, 1, 15, 11, 0, 0, 125)},
        {EncodeDateTime(2026, 7, 1, 12), EncodeDateTime(2026, 7, 1, 10)},  // daylight saving
        {EncodeDateTime(2026, 3, 29, 3, 30), EncodeDateTime(2026, 3, 29, 1, 30)},
        {EncodeDateTime(1601, 1, 2, 5), EncodeDateTime(1601, 1, 2, 4)},
    };
    for (const auto& row : rows) {
        FILETIME ft = FileTimeOfUtc(row.utc);
        FILETIME back = LocalDateTimeToFileTime(row.local);
        EXPECT_EQ(back.dwLowDateTime, ft.dwLowDateTime);
        EXPECT_EQ(back.dwHighDateTime, ft.dwHighDateTime);
        EXPECT_EQ(DateTimeToMs(FileTimeToLocalDateTime(ft)), DateTimeToMs(row.local));
    }
    EXPECT_EQ(FileTimeToLocalDateTime(FILETIME{0, 0}), 0.0);
    EXPECT_EQ(FileTimeToLocalDateTime(FILETIME{0xFFFFFFFF, 0xFFFFFFFF}), 0.0);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    EXPECT_NEAR(FileTimeToLocalDateTime(now), Now(), 1.0 / 1440) << "the system clock in UTC";
    FILETIME early = LocalDateTimeToFileTime(EncodeDateTime(1500, 1, 1));
    EXPECT_EQ(early.dwLowDateTime | early.dwHighDateTime, 0u) << "before 1601: all zero";
}

}  // namespace
}  // namespace velqor::test
