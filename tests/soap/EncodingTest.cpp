// XML Schema encodings: type names, variant texts, date-times under pinned time zones,
// durations, numbers and base64.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "TestSupport.h"
#include "soap/VelqorSOAPEncoding.h"

using namespace velqor;
using ::testing::StrEq;
using ::testing::ThrowsMessage;
using velqor::test::ScopedTimeZone;

namespace {

std::string DateError(std::string_view text) {
    try {
        XSDDateTimeToDateTime(text);
    } catch (const EVelqorDateTimeException& e) {
        return e.what();
    }
    return "accepted";
}

}  // namespace

// ---- type names ------------------------------------------------------------------------------

TEST(XsdTypeNames, NameToKind) {
    EXPECT_EQ(XSDTypeToVarType("int", false), VT_I4);
    EXPECT_EQ(XSDTypeToVarType("xsd:int", false), VT_I4);
    EXPECT_EQ(XSDTypeToVarType("ArrayOfInt", false), VT_ARRAY | VT_I4);
    EXPECT_EQ(XSDTypeToVarType("xsd:ArrayOfInt", false), VT_ARRAY | VT_I4);
    EXPECT_EQ(XSDTypeToVarType("Int", true), VT_BSTR);
    EXPECT_EQ(XSDTypeToVarType("Int", false), kUnknownXSDType);
    EXPECT_EQ(XSDTypeToVarType("ArrayOfUnsignedByte", false), VT_ARRAY | VT_UI1);
    EXPECT_EQ(XSDTypeToVarType("base64Binary", false), VT_ARRAY | VT_UI1);
    EXPECT_EQ(XSDTypeToVarType("ArrayOfFoo", true), VT_ARRAY | VT_BSTR);
    EXPECT_EQ(XSDTypeToVarType("ArrayOfFoo", false), kUnknownXSDType);
    EXPECT_EQ(XSDTypeToVarType("ArrayOfAnyType", false), VT_ARRAY | VT_VARIANT);
    EXPECT_EQ(XSDTypeToVarType("arrayOfInt", false), kUnknownXSDType)
        << "the prefix is case-sensitive";
    EXPECT_EQ(XSDTypeToVarType("ArrayOfint", false), VT_ARRAY | VT_I4);
    EXPECT_EQ(XSDTypeToVarType("duration", false), VT_BSTR);
    EXPECT_EQ(XSDTypeToVarType("date", false), VT_DATE);
    EXPECT_EQ(XSDTypeToVarType("time", false), VT_DATE);
    EXPECT_EQ(XSDTypeToVarType("decimal", false), VT_CY);
    EXPECT_EQ(XSDTypeToVarType("unsignedLong", false), VT_UI8);
    EXPECT_EQ(XSDTypeToVarType("", true), VT_BSTR);
    EXPECT_EQ(XSDTypeToVarType("ArrayOf", false), kUnknownXSDType);
}

TEST(XsdTypeNames, KindToName) {
    EXPECT_EQ(VarTypeToXSDType("xsd", VT_I4), "xsd:int");
    EXPECT_EQ(VarTypeToXSDType("anything", VT_I4), "xsd:int") << "any non-empty prefix means xsd";
    EXPECT_EQ(VarTypeToXSDType("", VT_I4), "int");
    EXPECT_EQ(VarTypeToXSDType("xsd", VT_ARRAY | VT_R8), "ArrayOfDouble");
    EXPECT_EQ(VarTypeToXSDType("xsd", VT_ARRAY | VT_UI1), "xsd:base64Binary");
    EXPECT_EQ(VarTypeToXSDType("", VT_ARRAY | VT_UI1), "base64Binary");
    EXPECT_EQ(VarTypeToXSDType("", VT_ARRAY | VT_UI2), "ArrayOfUnsignedShort");
    EXPECT_EQ(VarTypeToXSDType("", VT_ARRAY | VT_VARIANT), "ArrayOfAnyType");
    EXPECT_EQ(VarTypeToXSDType("", VT_ARRAY | VT_ERROR), "ArrayOfUnknown");
    EXPECT_EQ(VarTypeToXSDType("xsd", VT_STRING), "xsd:string");
    EXPECT_EQ(VarTypeToXSDType("xsd", VT_INT), "xsd:unsignedLong");
    EXPECT_EQ(VarTypeToXSDType("xsd", VT_EMPTY), "xsd:unknown");
    EXPECT_EQ(VarTypeToXSDType("xsd", VT_NULL), "xsd:unknown");
    // Every written name reads back as its kind.
    for (VARTYPE vt : {VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_BOOL, VT_VARIANT,
                       VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8}) {
        EXPECT_EQ(XSDTypeToVarType(VarTypeToXSDType("xsd", vt), false), vt) << vt;
        EXPECT_EQ(XSDTypeToVarType(VarTypeToXSDType("", VT_ARRAY | vt), false), VT_ARRAY | vt)
            << vt;
    }
}

TEST(XsdTypeNames, Prefixes) {
    EXPECT_EQ(StripNamespacePrefix("a:b:c"), "b:c");
    EXPECT_EQ(StripNamespacePrefix("abc"), "abc");
    EXPECT_EQ(StripNamespacePrefix(":x"), "x");
    EXPECT_EQ(AddNamespacePrefix("xsd", "int"), "xsd:int");
    EXPECT_EQ(AddNamespacePrefix("", "int"), "int");
}

// ---- variant text ----------------------------------------------------------------------------

// Floats are written exactly: the shortest text that reads back to the same bits, the XML
// Schema special values, and the sign of zero; the largest values are not clamped.
TEST(XsdText, FloatsRoundTripWithTheirSpecialValues) {
    const float fInf = std::numeric_limits<float>::infinity();
    const double dInf = std::numeric_limits<double>::infinity();
    const struct {
        Variant value;
        const char* text;
    } rows[] = {
        {Variant::R4(fInf), "INF"},
        {Variant::R4(-fInf), "-INF"},
        {Variant::R4(std::numeric_limits<float>::quiet_NaN()), "NaN"},
        {Variant::R4(std::numeric_limits<float>::max()), "3.4028235E38"},
        {Variant::R4(3.40282346e38f), "3.4028235E38"},
        {Variant::R4(-0.0f), "-0"},
        {Variant::R4(1.17549435e-38f), "1.1754944E-38"},
        {Variant::R4(16777217.0f), "16777216"},
        {Variant::R8(dInf), "INF"},
        {Variant::R8(std::numeric_limits<double>::max()), "1.7976931348623157E308"},
        {Variant::R8(1.79e308), "1.79E308"},
        {Variant::R8(-0.0), "-0"},
        {Variant::R8(0.1 + 0.2), "0.30000000000000004"},
        {Variant::R8(5e-324), "5E-324"},
    };
    for (const auto& r : rows) {
        const std::string text = VariantToXSDText(r.value);
        EXPECT_EQ(text, r.text);
        // What is written reads back to the same value, bit for bit.
        const Variant back = Variant::Str(text).ChangeType(r.value.Type());
        EXPECT_EQ(back, r.value) << text;
        EXPECT_EQ(std::signbit(back.RawDouble()), std::signbit(r.value.RawDouble())) << text;
    }
}

// Texts users and servers write for floats: infinities in their spellings, the usual text of
// the largest single, and what is truly beyond the single range.
TEST(XsdText, FloatTextsReadAsTheValueTheyName) {
    const float fMax = std::numeric_limits<float>::max();
    const float fInf = std::numeric_limits<float>::infinity();
    const struct {
        const char* text;
        VARTYPE type;
        double expected;  // NaN: the conversion overflows
    } rows[] = {
        {"Inf", VT_R4, fInf},
        {"INF", VT_R4, fInf},
        {"+INF", VT_R4, fInf},
        {"Infinity", VT_R4, fInf},
        {"-Infinity", VT_R4, -fInf},
        {"3.4028235e38", VT_R4, fMax},
        {"3.40282346e38", VT_R4, fMax},
        {"-3.4028235E38", VT_R4, -fMax},
        {"3.5e38", VT_R4, std::nan("")},
        {"1e-50", VT_R4, 0.0},
        {"1e400", VT_R8, HUGE_VAL},
        {"-1e400", VT_R8, -HUGE_VAL},
    };
    for (const auto& r : rows) {
        if (std::isnan(r.expected)) {
            EXPECT_THROW(Variant::Str(r.text).ChangeType(r.type), EVariantError) << r.text;
            continue;
        }
        EXPECT_EQ(Variant::Str(r.text).ChangeType(r.type).RawDouble(), r.expected) << r.text;
    }
}

TEST(XsdText, FloatsAndOtherKinds) {
    EXPECT_EQ(VariantToXSDText(Variant::R4(0.1f)), "0.1");  // shortest text that reads back
    EXPECT_EQ(VariantToXSDText(Variant::R8(0.1)), "0.1");
    EXPECT_EQ(VariantToXSDText(Variant::R8(0.0001)), "0.0001");
    EXPECT_EQ(VariantToXSDText(Variant::R8(0.00001)), "1E-5");
    EXPECT_EQ(VariantToXSDText(Variant::R8(1.5e20)), "1.5E20");
    EXPECT_EQ(VariantToXSDText(Variant::R8(1e15)), "1E15");
    EXPECT_EQ(VariantToXSDText(Variant::R8(999999999999999.0)), "999999999999999");
    EXPECT_EQ(VariantToXSDText(Variant::R8(-12.25)), "-12.25");
    EXPECT_EQ(VariantToXSDText(Variant::R8(100)), "100");
    EXPECT_EQ(VariantToXSDText(Variant::R8(0)), "0");
    EXPECT_EQ(VariantToXSDText(Variant::R8(-std::numeric_limits<double>::infinity())), "-INF");
    EXPECT_EQ(VariantToXSDText(Variant::R8(std::nan(""))), "NaN");
    EXPECT_EQ(VariantToXSDText(Variant::Currency(125000)), "12.5");
    EXPECT_EQ(VariantToXSDText(Variant::Currency(-1)), "-0.0001");
    EXPECT_EQ(VariantToXSDText(Variant::Bool(true)), "true");
    EXPECT_EQ(VariantToXSDText(Variant::Bool(false)), "false");
    EXPECT_EQ(VariantToXSDText(Variant::I8(-9000000000LL)), "-9000000000");
    EXPECT_EQ(VariantToXSDText(Variant::Int(-4)), "-4");
    EXPECT_EQ(VariantToXSDText(Variant::Str("x y")), "x y");
}

// ---- date-times ------------------------------------------------------------------------------

TEST(XsdDateTime, WrittenWithTheLocalOffset) {
    const double t = EncodeDateTime(2026, 12, 6, 16, 43, 24, 7);
    {
        ScopedTimeZone tz("UTC");
        EXPECT_EQ(DateTimeToXSDDateTime(t, true), "2026-12-06T16:43:24.007Z");
        EXPECT_EQ(DateTimeToXSDDateTime(0, true), "1899-12-30T00:00:00.000Z");
    }
    {
        ScopedTimeZone tz("Asia/Kolkata");
        EXPECT_EQ(DateTimeToXSDDateTime(t, true), "2026-12-06T16:43:24.007+05:30");
        EXPECT_EQ(DateTimeToXSDDateTime(t, false), "2026-12-06T16:43:24.007Z")
            << "the value is not shifted";
    }
    {
        ScopedTimeZone tz("EST5");  // a fixed zone five hours west
        EXPECT_EQ(DateTimeToXSDDateTime(t, true), "2026-12-06T16:43:24.007-05:00");
    }
    {
        // The offset in force at the date written, whatever the season now.
        ScopedTimeZone tz("America/New_York");
        EXPECT_EQ(DateTimeToXSDDateTime(t, true), "2026-12-06T16:43:24.007-05:00");
        EXPECT_EQ(DateTimeToXSDDateTime(EncodeDateTime(2026, 7, 1, 12, 0), true),
                  "2026-07-01T12:00:00.000-04:00");
    }
    ScopedTimeZone tz("UTC");
    EXPECT_EQ(
        DateTimeToXSDDateTime(EncodeDateTime(2026, 1, 1, 23, 59, 59, 999) + 0.4 / 86400000.0, true),
        "2026-01-01T23:59:59.999Z");
}

TEST(XsdDateTime, ReadIntoLocalTime) {
    const struct {
        const char* zone;
        const char* text;
        double local;
        const char* note;
    } reads[] = {
        {"UTC", "2026-01-01T10:00:00Z", EncodeDateTime(2026, 1, 1, 10, 0), ""},
        {"UTC", "2026-01-01T10:00:00", EncodeDateTime(2026, 1, 1, 10, 0), ""},
        {"UTC", "2026-01-01T10:00:00+02:00", EncodeDateTime(2026, 1, 1, 8, 0), ""},
        {"UTC", "2026-01-01T10:00:00-01:30", EncodeDateTime(2026, 1, 1, 11, 30), ""},
        {"UTC", "2026-01-01T10:00:00.5", EncodeDateTime(2026, 1, 1, 10, 0, 0, 500), ""},
        {"UTC", "2026-01-01T10:00:00.1239999+00:00", EncodeDateTime(2026, 1, 1, 10, 0, 0, 123),
         "the fraction is truncated to milliseconds"},
        {"UTC", "2026-08-24", EncodeDateTime(2026, 8, 24), ""},
        {"UTC", "2026-08-24+05:00", EncodeDateTime(2026, 8, 24),
         "an offset after a date alone has no effect"},
        {"UTC", "2026/08/24T01:02:03Z", EncodeDateTime(2026, 8, 24, 1, 2, 3),
         "separators are not checked"},
        {"UTC", "1899-12-30T00:00:00Z", 0.0, ""},
        {"UTC", "1899-12-29T18:00:00Z", -1.75, ""},
        {"EST5", "2026-01-01T10:00:00Z", EncodeDateTime(2026, 1, 1, 5, 0), "bias +300"},
        {"Asia/Kolkata", "2026-01-01T10:00:00Z", EncodeDateTime(2026, 1, 1, 15, 30), ""},
        {"Asia/Kolkata", "2026-01-01T10:00:00+05:30", EncodeDateTime(2026, 1, 1, 10, 0), ""},
        // Each time is read with the zone's rules at that moment: summer and winter times from
        // one reply are both right, whatever the season now.
        {"America/New_York", "2026-07-01T16:00:00Z", EncodeDateTime(2026, 7, 1, 12, 0), ""},
        {"America/New_York", "2026-01-15T17:00:00Z", EncodeDateTime(2026, 1, 15, 12, 0), ""},
        {"America/New_York", "2026-07-01T12:00:00.000-04:00", EncodeDateTime(2026, 7, 1, 12, 0),
         ""},
        {"Pacific/Kiritimati", "2026-01-01T10:00:00-12:00", EncodeDateTime(2026, 1, 2, 12, 0),
         "UTC+14 reading a far-western offset"},
    };
    for (const auto& r : reads) {
        ScopedTimeZone tz(r.zone);
        EXPECT_EQ(XSDDateTimeToDateTime(r.text), r.local)
            << r.zone << " " << r.text << " " << r.note;
    }

    // Round trips through the text.
    {
        ScopedTimeZone tz("Asia/Kolkata");
        double t = EncodeDateTime(2031, 7, 4, 1, 2, 3, 456);
        EXPECT_EQ(XSDDateTimeToDateTime(DateTimeToXSDDateTime(t, true)), t);
    }
    {
        ScopedTimeZone tz("America/New_York");
        double summer = EncodeDateTime(2026, 7, 1, 8, 30, 0, 5);
        EXPECT_EQ(XSDDateTimeToDateTime(DateTimeToXSDDateTime(summer, true)), summer);
    }
    {
        // Before 1942 Kolkata kept a local mean time whose offset has seconds; the text carries
        // minutes only, and a date-time still reads back to itself.
        ScopedTimeZone tz("Asia/Kolkata");
        double old = XSDDateTimeToDateTime("1899-12-30T00:00:00.5+14:00");
        EXPECT_EQ(XSDDateTimeToDateTime(DateTimeToXSDDateTime(old, true)), old);
    }
}

TEST(XsdDateTime, Errors) {
    ScopedTimeZone tz("UTC");
    EXPECT_EQ(DateError("2026-0x-01"), "invalid date string: 2026-0x-01");
    EXPECT_EQ(DateError("2026-01-1"), "invalid date string: 2026-01-1");
    EXPECT_EQ(DateError(""), "invalid date string: ");
    EXPECT_EQ(DateError("2026-01-01T12:00"), "invalid time string: 12:00");
    EXPECT_EQ(DateError("2026-01-01T12:00:0a"), "invalid time string: 12:00:0a");
    EXPECT_EQ(DateError("2026-01-01T12:00:00."), "invalid time string: 12:00:00.");
    EXPECT_EQ(DateError("2026-01-01T12:00:00.x"), "invalid time string: 12:00:00.x");
    EXPECT_EQ(DateError("2026-01-01T12:00:00+01"), "invalid time string: 12:00:00+01");
    EXPECT_EQ(DateError("2026-01-01T12:00:00+0x:00"), "invalid time offset");
    EXPECT_EQ(DateError("2026-01-01T12:00:00+01:0x"), "invalid time offset");
    EXPECT_EQ(DateError("2026-01-01T12:00:00.5+01:"), "invalid time string: 12:00:00.5+01:");
    EXPECT_EQ(DateError("2026-01-01T12:00:00+01:0"), "invalid time offset");
    // Fields out of range are refused instead of becoming 1899-12-30.
    EXPECT_EQ(DateError("2026-13-01"), "invalid date string: 2026-13-01");
    EXPECT_EQ(DateError("2026-02-30T00:00:00Z"), "invalid date string: 2026-02-30");
    EXPECT_EQ(DateError("2025-02-29"), "invalid date string: 2025-02-29");
    EXPECT_EQ(DateError("0000-01-01"), "invalid date string: 0000-01-01");
    EXPECT_EQ(DateError("2026-01-01T24:00:00Z"), "invalid time string: 24:00:00Z");
    EXPECT_EQ(DateError("2026-01-01T12:60:00Z"), "invalid time string: 12:60:00Z");
    EXPECT_EQ(DateError("2024-02-29T12:00:00Z"), "accepted");
    // Zone offsets run from -14:00 to +14:00.
    EXPECT_EQ(DateError("2026-01-01T12:00:00+99:99"), "invalid time offset");
    EXPECT_EQ(DateError("2026-01-01T12:00:00-14:01"), "invalid time offset");
    EXPECT_EQ(DateError("2026-01-01T12:00:00+01:60"), "invalid time offset");
    EXPECT_EQ(DateError("2026-01-01T12:00:00-14:00"), "accepted");
}

// Instants at the edges of the years 1 to 9999 moved by their offset are still those instants,
// in any zone, never 1899-12-30.
TEST(XsdDateTime, EdgesWithOffsets) {
    for (const char* zone : {"UTC", "Pacific/Kiritimati", "Etc/GMT+12"}) {
        ScopedTimeZone tz(zone);
        SCOPED_TRACE(zone);
        const struct {
            const char* text;
            int64_t utcMs;  // since 1899-12-30 00:00 UTC
        } rows[] = {
            {"9999-12-31T23:59:59.999-14:00",
             DateTimeToMs(EncodeDateTime(9999, 12, 31, 23, 59, 59, 999)) + 14 * 3600000LL},
            {"0001-01-01T00:00:00.000+14:00",
             DateTimeToMs(EncodeDateTime(1, 1, 1)) - 14 * 3600000LL},
        };
        for (const auto& r : rows) {
            const double local = XSDDateTimeToDateTime(r.text);
            EXPECT_EQ(DateTimeToMs(LocalToUtc(local)), r.utcMs) << r.text;
        }
    }
}

// ---- durations -------------------------------------------------------------------------------

TEST(XsdDuration, Writing) {
    EXPECT_EQ(SecondsToXSDDuration(93784.5), "P1DT2H3M4.50S");
    EXPECT_EQ(SecondsToXSDDuration(3600), "PT1H");
    EXPECT_EQ(SecondsToXSDDuration(0.25), "PT0.25S");
    EXPECT_EQ(SecondsToXSDDuration(90), "PT1M30S");
    EXPECT_EQ(SecondsToXSDDuration(86400), "P1D");
    EXPECT_EQ(SecondsToXSDDuration(0), "P");
    EXPECT_EQ(EncodeXSDDuration(0, 0, 0, 5, 0), "PT5S");
    EXPECT_EQ(EncodeXSDDuration(2, 0, 0, 0, 10), "P2DT0.01S");
    EXPECT_THROW(SecondsToXSDDuration(std::numeric_limits<double>::infinity()),
                 EVelqorDateTimeException);
}

TEST(XsdDuration, Reading) {
    XSDDuration d = DecodeXSDDuration("P1Y2M3DT4H5M6.789S");
    EXPECT_EQ(d.Days, 3) << "years and months are not read";
    EXPECT_EQ(d.Hours, 4);
    EXPECT_EQ(d.Minutes, 5);
    EXPECT_EQ(d.Seconds, 6);
    EXPECT_EQ(d.Milliseconds, 789);
    EXPECT_DOUBLE_EQ(XSDDurationToSeconds("P1DT2H3M4.50S"), 93784.5);
    EXPECT_DOUBLE_EQ(XSDDurationToSeconds("PT0.25S"), 0.25);
    EXPECT_DOUBLE_EQ(XSDDurationToSeconds("P"), 0);
    EXPECT_DOUBLE_EQ(XSDDurationToSeconds("PT1M"), 60);
    EXPECT_DOUBLE_EQ(XSDDurationToSeconds("PT1.0005S"), 1.001) << "milliseconds are rounded";
    for (double s : {0.25, 90.0, 3600.0, 86400.0, 93784.5, 1234567.75})
        EXPECT_DOUBLE_EQ(XSDDurationToSeconds(SecondsToXSDDuration(s)), s) << s;
    EXPECT_THAT([&] { DecodeXSDDuration("T1S"); },
                ThrowsMessage<EVelqorDateTimeException>(StrEq("invalid duration string: T1S")));
    EXPECT_THROW(DecodeXSDDuration(""), EVelqorDateTimeException);
    EXPECT_THROW(DecodeXSDDuration("PT.5S"), EVariantError) << "empty seconds part";
    EXPECT_THROW(DecodeXSDDuration("P99999999999D"), EVariantError) << "beyond 32 bits";
}

// ---- numbers ---------------------------------------------------------------------------------

TEST(XsdNumbers, Parsing) {
    EXPECT_DOUBLE_EQ(XSDToFloat("1.5"), 1.5);
    EXPECT_DOUBLE_EQ(XSDToFloat("-1.5E3"), -1500);
    EXPECT_DOUBLE_EQ(XSDToFloat(" 2 "), 2);
    EXPECT_TRUE(std::isinf(XSDToFloat("INF")));
    EXPECT_TRUE(std::isnan(XSDToFloat("NaN")));
    EXPECT_THROW(XSDToFloat("1,5"), EVariantError);
    EXPECT_THROW(XSDToFloat(""), EVariantError);
    EXPECT_THROW(XSDToFloat("abc"), EVariantError);
    EXPECT_EQ(XSDToDecimal("12.5"), 125000);
    EXPECT_EQ(XSDToDecimal("-0.00005"), -1) << "rounded half away from zero";
    EXPECT_EQ(XSDToDecimal("922337203685477.5807"), INT64_MAX);
    EXPECT_EQ(XSDToDecimal("-922337203685477.5808"), INT64_MIN);
    EXPECT_EQ(XSDToDecimal("1.5E2"), 1500000);
    EXPECT_EQ(XSDToDecimal(".5"), 5000);
    EXPECT_THROW(XSDToDecimal("922337203685478"), EVariantError);
    EXPECT_THROW(XSDToDecimal("1e300"), EVariantError);
    EXPECT_THROW(XSDToDecimal("x"), EVariantError);
    EXPECT_EQ(XSDToCardinal("4294967295"), 4294967295u);
    EXPECT_EQ(XSDToCardinal("4294967296"), 0u) << "the low 32 bits";
    EXPECT_EQ(XSDToCardinal("-1"), 4294967295u);
    EXPECT_THAT([&] { XSDToCardinal("1.5"); },
                ThrowsMessage<Exception>(StrEq("cardinal convert error")));
    EXPECT_EQ(XSDToInteger("-2147483648"), INT32_MIN);
    EXPECT_THROW(XSDToInteger("2147483648"), EVariantError);
    EXPECT_THROW(XSDToInteger("1.0"), EVariantError);
}

// ---- base64 ----------------------------------------------------------------------------------

TEST(XsdBase64, EncodingWithLineBreaks) {
    EXPECT_EQ(Base64Encode("abc"), "YWJj");
    EXPECT_EQ(Base64Encode("ab"), "YWI=");
    EXPECT_EQ(Base64Encode("a"), "YQ==");
    EXPECT_EQ(Base64Encode(""), "");
    std::string s57(57, 'x');
    std::string e57 = Base64Encode(s57);
    ASSERT_EQ(e57.size(), 78u);
    EXPECT_EQ(e57.substr(76), "\r\n") << "a break also after the last group at exactly 76";
    std::string s100(100, '\x01');
    std::string e100 = Base64Encode(s100);
    EXPECT_EQ(e100.find("\r\n"), 76u);
    EXPECT_EQ(e100.size(), 136u + 2u);
    EXPECT_EQ(Base64Decode(e100), s100);
    // The stream form gives the same text across its 510-byte blocks.
    std::string big;
    for (int i = 0; i < 2000; ++i) big += char(i * 7);
    std::istringstream in(big);
    std::ostringstream out;
    Base64Encode(in, out);
    EXPECT_EQ(out.str(), Base64Encode(big));
    std::istringstream in2(out.str());
    std::ostringstream back;
    Base64Decode(in2, back);
    EXPECT_EQ(back.str(), big);
}

TEST(XsdBase64, DecodingIsLenient) {
    EXPECT_EQ(Base64Decode("YWJj"), "abc");
    EXPECT_EQ(Base64Decode("Y W\r\nJ j"), "abc");
    EXPECT_EQ(Base64Decode("YWI="), "ab");
    EXPECT_EQ(Base64Decode("YQ=="), "a");
    EXPECT_EQ(Base64Decode("YWI"), "ab") << "an unpadded final group";
    EXPECT_EQ(Base64Decode("YQ"), "a");
    EXPECT_EQ(Base64Decode("Y"), "");
    EXPECT_EQ(Base64Decode("===="), "");
    EXPECT_EQ(Base64Decode("!!!"), "");
    std::string all;
    for (int i = 0; i < 256; ++i) all += char(i);
    EXPECT_EQ(Base64Decode(Base64Encode(all)), all);
}
