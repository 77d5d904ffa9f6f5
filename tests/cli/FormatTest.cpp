// The texts of tagscope-cli: data-type names both ways, quality texts, JSON and CSV escaping.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>

#include "Format.h"
#include "contract/VelqorDateTime.h"

namespace tagscope::cli {
namespace {
using namespace velqor;

TEST(CliFormat, DataTypeNamesInEveryAcceptedSpelling) {
    EXPECT_EQ(ParseVarType("R8"), VT_R8);
    EXPECT_EQ(ParseVarType("vt_r8"), VT_R8);
    EXPECT_EQ(ParseVarType("vtR8"), VT_R8);
    EXPECT_EQ(ParseVarType("double"), VT_R8);
    EXPECT_EQ(ParseVarType("xsd:Double"), VT_R8);
    EXPECT_EQ(ParseVarType("5"), VT_R8);
    EXPECT_EQ(ParseVarType("BSTR"), VT_BSTR);
    EXPECT_EQ(ParseVarType("string"), VT_BSTR);
    EXPECT_EQ(ParseVarType("unsignedShort"), VT_UI2);
    EXPECT_EQ(ParseVarType("I4[]"), VT_I4 | VT_ARRAY);
    EXPECT_EQ(ParseVarType("ARRAY|R4"), VT_R4 | VT_ARRAY);
    EXPECT_EQ(ParseVarType("ArrayOfInt"), VT_I4 | VT_ARRAY);
    EXPECT_FALSE(ParseVarType(""));
    EXPECT_FALSE(ParseVarType("R9"));
    EXPECT_FALSE(ParseVarType("vt"));
    EXPECT_FALSE(ParseVarType("99999"));
    EXPECT_FALSE(ParseVarType("-1"));
    EXPECT_FALSE(ParseVarType("[]"));
    for (int32_t vt : std::initializer_list<int32_t>{VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4,
                                                     VT_I8, VT_UI8, VT_R4, VT_R8, VT_CY, VT_DATE,
                                                     VT_BSTR, VT_BOOL, VT_I4 | VT_ARRAY})
        EXPECT_EQ(ParseVarType(VarTypeName(vt)), vt) << VarTypeName(vt);
    EXPECT_EQ(VarTypeName(0x77), "119");
}

TEST(CliFormat, QualityTextsWithLimits) {
    const std::pair<int32_t, const char*> rows[] = {
        {0xC0, "good"},
        {0xD8, "goodLocalOverride"},
        {0x56, "uncertainEUExceeded+high"},
        {0x11, "badSensorFailure+low"},
        {0x03, "bad+constant"},
        {0x20, "badWaitingForInitialData"},
        {0x48, "uncertain"},  // an unnamed substatus keeps its status
        {0x80, "unknown"},
    };
    for (auto [quality, text] : rows) EXPECT_EQ(QualityText(quality), text) << quality;
    EXPECT_EQ(QualityCode(0xC0), "0xC0");
    EXPECT_EQ(QualityCode(0x1FF), "0x1FF");
}

TEST(CliFormat, JsonStringsStayValidForAnyBytes) {
    EXPECT_EQ(JsonString("plain"), "\"plain\"");
    EXPECT_EQ(JsonString("a\"b\\c\n\r\t\b\f"), R"("a\"b\\c\n\r\t\b\f")");
    EXPECT_EQ(JsonString(std::string("\x00\x1f\x7f", 3)), "\"\\u0000\\u001f\x7f\"");
    EXPECT_EQ(JsonString("T\xC2\xB0"
                         "C \xE2\x82\xAC \xF0\x9F\x98\x80"),
              "\"T\xC2\xB0"
              "C \xE2\x82\xAC \xF0\x9F\x98\x80\"");
    // Bytes that are not UTF-8 become U+FFFD, one for each maximal invalid part.
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_EQ(JsonString("\xFF"), "\"" + r + "\"");
    EXPECT_EQ(JsonString("\xC3"), "\"" + r + "\"");                  // cut short
    EXPECT_EQ(JsonString("\xC0\xAF"), "\"" + r + r + "\"");          // overlong
    EXPECT_EQ(JsonString("\xED\xA0\x80"), "\"" + r + r + r + "\"");  // a surrogate
}

TEST(CliFormat, JsonValuesByKind) {
    using velqor::Variant;
    ::setenv("TZ", "UTC-1", 1);  // one hour east, no daylight saving
    ::tzset();
    const std::pair<Variant, std::string> rows[] = {
        {Variant::I4(-5), "-5"},
        {Variant::UI8(18446744073709551615ULL), "18446744073709551615"},
        {Variant::R8(1.5e20), "1.5e20"},
        {Variant::R8(0.25), "0.25"},
        {Variant::R8(std::numeric_limits<double>::infinity()), "\"INF\""},
        {Variant::Bool(true), "true"},
        {Variant(), "null"},
        {Variant::Str("x\"y"), R"("x\"y")"},
        // Dates in one ISO 8601 form with milliseconds and offset, also at midnight.
        {Variant::Date(1.5), "\"1899-12-31T12:00:00.000+01:00\""},
        {Variant::Date(EncodeDateTime(2026, 1, 1)), "\"2026-01-01T00:00:00.000+01:00\""},
        // Arrays as JSON arrays: a separator inside an element stays inside it.
        {Variant::Array(VT_BSTR, {Variant::Str("a;b")}), R"(["a;b"])"},
        {Variant::Array(VT_BSTR, {Variant::Str("a"), Variant::Str("b")}), R"(["a","b"])"},
        {Variant::Array(VT_I4, {}), "[]"},
        {Variant::Bytes(std::string("\x00\xff", 2)), "[0,255]"},
        {Variant::Array(VT_VARIANT,
                        {Variant::Array(VT_I2, {Variant::I2(1)}), Variant::Bool(false)}),
         "[[1],false]"},
    };
    for (const auto& [value, json] : rows) EXPECT_EQ(JsonValue(value), json);
    // CSV: arrays as that JSON text (then quoted as any field), dates in the same ISO form.
    EXPECT_EQ(CsvField(CsvValueText(Variant::Array(VT_BSTR, {Variant::Str("a;b")}))),
              R"("[""a;b""]")");
    EXPECT_EQ(CsvValueText(Variant::Array(VT_I4, {})), "[]");
    EXPECT_EQ(CsvValueText(Variant::Date(EncodeDateTime(2026, 7, 1, 12, 0, 0, 500))),
              "2026-07-01T12:00:00.500+01:00");
    EXPECT_EQ(MachineDateText(0), "");
}

// The kept texts are those of their own dates, whatever order the dates come in.
TEST(CliFormat, RememberedDateTextsBelongToTheirDates) {
    TDateTexts dates;
    for (double dt : {-1.0, 46000.5, 46000.5, 46001.25, 46000.5, -1.0, 46001.25, 0.0, 46002.0})
        EXPECT_EQ(dates.Of(dt), MachineDateText(dt)) << dt;
}

TEST(CliFormat, HumanTextKeepsServerTextsOnTheirLine) {
    const std::pair<std::string, std::string> rows[] = {
        {"plain text, \xc3\xa4\xe2\x82\xac", "plain text, \xc3\xa4\xe2\x82\xac"},
        {"a\r\nb\tc", "a\\r\\nb\\tc"},
        {"\x1b[2J\x07\x7f", "\\x1b[2J\\x07\\x7f"},
        {"\xc2\x9b"
         "31m",
         "\\u009b31m"},  // C1 CSI
        {"\xe2\x80\xae"
         "evil \xe2\x81\xa6x\xe2\x80\x8f",
         "\\u202eevil \\u2066x\\u200f"},
        {"\xff\xc3", "\\xff\\xc3"},  // not UTF-8
        {std::string("nul\0", 4), "nul\\x00"},
    };
    for (const auto& [in, out] : rows) EXPECT_EQ(HumanText(in), out) << out;
}

TEST(CliFormat, CsvFieldsQuotedOnlyWhenNeeded) {
    EXPECT_EQ(CsvField("plain text"), "plain text");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\nlines"), "\"two\nlines\"");
    EXPECT_EQ(CsvField("cr\r"), "\"cr\r\"");
    EXPECT_EQ(CsvField(""), "");
}

}  // namespace
}  // namespace tagscope::cli
