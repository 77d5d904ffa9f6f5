// Wire texts and conversions of the simulation service's values.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "xmlda/Values.h"

using namespace velqor::xmldasim;

namespace {

Value scalar(Kind k, Scalar s) { return Value{{k, false}, {std::move(s)}}; }

std::string textOf(const Value& v) { return scalarText(v.type.kind, v.elems.at(0)); }

}  // namespace

TEST(SimValues, TypeNamesRoundTripWithAndWithoutPrefix) {
    EXPECT_EQ(typeLocalName({Kind::UnsignedLong, false}), "unsignedLong");
    EXPECT_EQ(typeLocalName({Kind::Double, true}), "ArrayOfDouble");
    EXPECT_EQ(typeFromName("xsd:unsignedShort"), (DataType{Kind::UnsignedShort, false}));
    EXPECT_EQ(typeFromName("ns1:ArrayOfString"), (DataType{Kind::String, true}));
    EXPECT_EQ(typeFromName("ArrayOfInt"), (DataType{Kind::Int, true}));
    EXPECT_FALSE(typeFromName("xsd:Int").has_value());              // names are case-sensitive
    EXPECT_FALSE(typeFromName("ArrayOfUnsignedByte").has_value());  // byte strings are base64Binary
}

TEST(SimValues, IntegerTextsHonourTheirRanges) {
    bool range = false;
    EXPECT_TRUE(parseScalar(Kind::Byte, "-128"));
    EXPECT_FALSE(parseScalar(Kind::Byte, "128", &range));
    EXPECT_TRUE(range);
    range = false;
    EXPECT_FALSE(parseScalar(Kind::UnsignedInt, "-1", &range));
    EXPECT_TRUE(range);
    EXPECT_TRUE(parseScalar(Kind::UnsignedInt, "-0"));
    EXPECT_EQ(std::get<std::uint64_t>(*parseScalar(Kind::UnsignedLong, "18446744073709551615")),
              18446744073709551615ULL);
    range = false;
    EXPECT_FALSE(parseScalar(Kind::UnsignedLong, "18446744073709551616", &range));
    EXPECT_TRUE(range);
    EXPECT_EQ(std::get<std::int64_t>(*parseScalar(Kind::Int, " +42 ")), 42);
    range = false;
    EXPECT_FALSE(parseScalar(Kind::Int, "4x", &range));
    EXPECT_FALSE(range);  // not a number at all: a type error, not a range error
}

TEST(SimValues, RealTextsIncludingSpecialValues) {
    EXPECT_TRUE(std::isinf(std::get<double>(*parseScalar(Kind::Double, "-INF"))));
    EXPECT_TRUE(std::isnan(std::get<double>(*parseScalar(Kind::Float, "NaN"))));
    bool range = false;
    EXPECT_FALSE(parseScalar(Kind::Float, "1e39", &range));
    EXPECT_TRUE(range);
    EXPECT_EQ(textOf(scalar(Kind::Float, 1.34)), "1.34000003");  // float precision, nine digits
    EXPECT_EQ(textOf(scalar(Kind::Double, 5.4)), "5.4000000000000004");
    EXPECT_EQ(textOf(scalar(Kind::Decimal, 1000.25)), "1000.25");
    EXPECT_EQ(textOf(scalar(Kind::Decimal, 7.0)), "7");
    EXPECT_EQ(textOf(scalar(Kind::Double, -std::numeric_limits<double>::infinity())), "-INF");
}

TEST(SimValues, DateTimesWithOffsetsAndFractions) {
    auto a = parseDateTime("2026-08-24T18:12:18Z");
    auto b = parseDateTime("2026-08-24T20:12:18.000+02:00");
    auto c = parseDateTime("2011-03-30T22:00:00.000-01:00");
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(*a, *b);
    EXPECT_EQ(formatDateTime(*c), "2011-03-30T23:00:00.000Z");
    EXPECT_EQ(formatDateTime(*parseDateTime("2026-01-01T00:00:00.1234")),
              "2026-01-01T00:00:00.123Z");
    // Texts read back unchanged, at the edges of every field and of the four-digit year.
    for (const char* t :
         {"0001-01-01T00:00:00.000Z", "1969-12-31T23:59:59.999Z", "1970-01-01T00:00:00.001Z",
          "2024-02-29T12:34:56.789Z", "9999-12-31T23:59:59.999Z"}) {
        const auto parsed = parseDateTime(t);
        ASSERT_TRUE(parsed) << t;
        EXPECT_EQ(formatDateTime(*parsed), t);
    }
    EXPECT_EQ(formatDateTime(*parseDateTime("9999-12-31T23:59:59.999Z") + std::chrono::days(1)),
              "10000-01-01T23:59:59.999Z");
    EXPECT_FALSE(parseDateTime("2026-02-30T00:00:00Z"));
    EXPECT_FALSE(parseDateTime("2026-01-01 00:00:00"));
    EXPECT_FALSE(parseDateTime("2026-01-01T00:00:00+0100"));
}

TEST(SimValues, Base64RoundTripAndRejects) {
    Bytes all(256);
    for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    for (std::size_t n : {0u, 1u, 2u, 3u, 256u}) {
        Bytes part(all.begin(), all.begin() + static_cast<long>(n));
        EXPECT_EQ(base64Decode(base64Encode(part)), part) << n;
    }
    EXPECT_EQ(base64Encode({'M', 'a'}), "TWE=");
    EXPECT_FALSE(base64Decode("TW=E"));
    EXPECT_FALSE(base64Decode("T*E="));
}

TEST(SimValues, ConversionsBetweenKinds) {
    auto toS = convert(scalar(Kind::Int, std::int64_t{-5}), {Kind::String, false});
    EXPECT_EQ(toS.resultId, "");
    EXPECT_EQ(std::get<std::string>(toS.value.elems[0]), "-5");

    EXPECT_EQ(convert(scalar(Kind::Long, std::int64_t{300}), {Kind::Byte, false}).resultId,
              "E_RANGE");
    EXPECT_EQ(convert(scalar(Kind::Int, std::int64_t{-1}), {Kind::UnsignedShort, false}).resultId,
              "E_RANGE");
    EXPECT_EQ(convert(scalar(Kind::String, std::string("abc")), {Kind::Int, false}).resultId,
              "E_BADTYPE");
    EXPECT_EQ(convert(scalar(Kind::DateTime, DateTimeValue{}), {Kind::Double, false}).resultId,
              "E_BADTYPE");

    auto rounded = convert(scalar(Kind::Double, 2.5), {Kind::Int, false});
    EXPECT_EQ(std::get<std::int64_t>(rounded.value.elems[0]), 3);
    auto big = convert(scalar(Kind::UnsignedLong, std::uint64_t{18000000000000000000ULL}),
                       {Kind::Long, false});
    EXPECT_EQ(big.resultId, "E_RANGE");
    auto b = convert(scalar(Kind::Boolean, true), {Kind::Double, false});
    EXPECT_EQ(std::get<double>(b.value.elems[0]), 1.0);

    Value arr{{Kind::Int, true}, {std::int64_t{1}, std::int64_t{2}}};
    auto arrD = convert(arr, {Kind::Double, true});
    EXPECT_EQ(arrD.resultId, "");
    EXPECT_EQ(arrD.value.elems.size(), 2u);
    EXPECT_EQ(convert(arr, {Kind::Int, false}).resultId, "E_BADTYPE");  // array to scalar
    EXPECT_EQ(convert(scalar(Kind::Int, std::int64_t{1}), {Kind::Int, true}).resultId, "E_BADTYPE");

    auto bytes = convert(scalar(Kind::String, std::string("TWE=")), {Kind::Base64Binary, false});
    EXPECT_EQ(std::get<Bytes>(bytes.value.elems[0]), (Bytes{'M', 'a'}));
}
