// Variant conversions and text forms, and the locale-independent number parsing beneath them.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "contract/Variant.h"
#include "contract/VelqorDateTime.h"

namespace velqor {
namespace {

TEST(VariantConvert, IntegersThatDoNotFitRaise) {
    EXPECT_EQ(Variant(int32_t(127)).ChangeType(VT_I1).RawInt(), 127);
    EXPECT_THROW(Variant(int32_t(128)).ChangeType(VT_I1), EVariantError);
    EXPECT_THROW(Variant(int32_t(-1)).ChangeType(VT_UI4), EVariantError);
    EXPECT_THROW(Variant::UI8(uint64_t(1) << 63).ChangeType(VT_I8), EVariantError);
    EXPECT_EQ(Variant::UI8(uint64_t(1) << 63).ChangeType(VT_R8).RawDouble(), 9223372036854775808.0);
    EXPECT_EQ(Variant::I8(INT64_MIN).ChangeType(VT_I8).RawInt(), INT64_MIN);
    EXPECT_THROW(Variant::I8(int64_t(1) << 40).ChangeType(VT_I4), EVariantError);
    EXPECT_THROW(Variant(70000).ChangeType(VT_UI2), EVariantError);
    EXPECT_EQ(Variant(65535).ChangeType(VT_UI2).RawUInt(), 65535u);
    // Floats round half to even and must fit after rounding.
    EXPECT_EQ(Variant(2.5).AsInt32(), 2);
    EXPECT_EQ(Variant(3.5).AsInt32(), 4);
    EXPECT_EQ(Variant(-2.5).AsInt32(), -2);
    EXPECT_EQ(Variant(2147483647.4).AsInt32(), 2147483647);
    EXPECT_THROW(Variant(2147483647.6).AsInt32(), EVariantError);
    EXPECT_THROW(Variant(9223372036854775808.0).ChangeType(VT_I8), EVariantError);
    EXPECT_THROW(Variant(std::nan("")).AsInt32(), EVariantError);
    EXPECT_THROW(Variant(1e300).ChangeType(VT_R4), EVariantError);
    EXPECT_THROW(Variant(1e300).ChangeType(VT_CY), EVariantError);
    EXPECT_THROW(Variant(3e6).ChangeType(VT_DATE), EVariantError);
}

TEST(VariantConvert, BooleansAreMinusOneAndAllBitsSet) {
    EXPECT_EQ(Variant(true).AsInt32(), -1);
    EXPECT_EQ(Variant(false).AsInt32(), 0);
    EXPECT_EQ(Variant(true).ChangeType(VT_UI1).RawUInt(), 255u);
    EXPECT_EQ(Variant(true).ChangeType(VT_UI4).RawUInt(), 0xFFFFFFFFu);
    EXPECT_EQ(Variant(true).AsDouble(), -1.0);
    EXPECT_TRUE(Variant(int32_t(-7)).AsBool());
    EXPECT_FALSE(Variant(0.0).AsBool());
    EXPECT_TRUE(Variant::Currency(1).AsBool());
    EXPECT_EQ(Variant(true).ChangeType(VT_BSTR), Variant("True"));
    EXPECT_TRUE(Variant(" TRUE ").AsBool());
    EXPECT_FALSE(Variant("false").AsBool());
    EXPECT_TRUE(Variant("2").AsBool());
    EXPECT_THROW(Variant("yes").AsBool(), EVariantError);
}

TEST(VariantConvert, StringsParseWhateverTheLocale) {
    // A decimal comma locale must not change how "1.5" is read or written.
    const char* old = std::setlocale(LC_ALL, nullptr);
    std::string saved = old ? old : "C";
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    EXPECT_EQ(Variant("1.5").AsDouble(), 1.5);
    EXPECT_EQ(Variant(1.5).ToText(), "1.5");
    std::setlocale(LC_ALL, saved.c_str());

    EXPECT_EQ(Variant(" 42 ").AsInt32(), 42);
    EXPECT_EQ(Variant("+7").AsInt32(), 7);
    EXPECT_EQ(Variant("1e3").AsInt32(), 1000);
    EXPECT_EQ(Variant("18446744073709551615").AsUInt64(), UINT64_MAX);
    EXPECT_THROW(Variant("18446744073709551616").AsUInt64(), EVariantError);
    EXPECT_THROW(Variant("12abc").AsInt32(), EVariantError);
    EXPECT_THROW(Variant("").AsInt32(), EVariantError);
    EXPECT_THROW(Variant("+-5").AsInt32(), EVariantError);
    EXPECT_THROW(Variant("--5").AsDouble(), EVariantError);
    EXPECT_TRUE(std::isinf(Variant("-INF").AsDouble()));
    EXPECT_EQ(Variant("2024-02-29 13:45:10").AsDate(), EncodeDateTime(2024, 2, 29, 13, 45, 10));
    EXPECT_THROW(Variant("2023-02-29").AsDate(), EVariantError);
    EXPECT_EQ(Variant::AnsiStr("abc").ChangeType(VT_BSTR), Variant("abc"));
    EXPECT_EQ(Variant(int32_t(5)).ChangeType(VT_STRING), Variant::AnsiStr("5"));

    int64_t i = 0;
    uint64_t u = 0;
    double d = 0;
    EXPECT_FALSE(ParseInt64("9223372036854775808", i));
    EXPECT_TRUE(ParseInt64("-9223372036854775808", i));
    EXPECT_EQ(i, INT64_MIN);
    EXPECT_FALSE(ParseInt64("+-1", i));
    EXPECT_FALSE(ParseUInt64("-0", u));
    EXPECT_TRUE(ParseFloat(" 1E400 ", d));
    EXPECT_TRUE(std::isinf(d));
    EXPECT_FALSE(ParseFloat("1,5", d));
}

TEST(VariantConvert, NullAndArraysOnlyConvertWhereMeaningful) {
    EXPECT_THROW(Variant::Null().AsInt32(), EVariantError);
    EXPECT_EQ(Variant().AsInt32(), 0);
    EXPECT_EQ(Variant().ToText(), "");
    EXPECT_EQ(Variant::Null().ToText(), "");

    Variant a = Variant::Array(VT_I2, {Variant(int32_t(1)), Variant("2")}, -3);
    EXPECT_EQ(a.Type(), VT_ARRAY | VT_I2);
    EXPECT_EQ(a.ArrayData().HighBound(), -2);
    EXPECT_EQ(a.ArrayData().Elements[1].Type(), VT_I2);
    Variant r = a.ChangeType(VT_ARRAY | VT_R8);
    EXPECT_EQ(r.ArrayData().LowBound, -3);
    EXPECT_EQ(r.ArrayData().Elements[1], Variant(2.0));
    EXPECT_THROW(a.ChangeType(VT_I4), EVariantError);
    EXPECT_THROW(Variant(int32_t(1)).ChangeType(VT_ARRAY | VT_I4), EVariantError);
    EXPECT_THROW(a.ToText(), EVariantError);
    EXPECT_THROW(Variant::Array(VT_UI1, {Variant(int32_t(300))}), EVariantError);

    Variant bytes = Variant::Bytes(std::string("\x00\xFF\x10", 3));
    EXPECT_EQ(bytes.Type(), VT_ARRAY | VT_UI1);
    EXPECT_EQ(bytes.AsBytes(), std::string("\x00\xFF\x10", 3));
    EXPECT_THROW(a.AsBytes(), EVariantError);

    // Copies are deep: changing one leaves the other.
    Variant copy = a;
    copy.ArrayData().Elements[0] = Variant::I2(9);
    EXPECT_EQ(a.ArrayData().Elements[0], Variant::I2(1));
    EXPECT_FALSE(copy == a);
    Variant nested = Variant::Array(VT_VARIANT, {a, Variant("x")});
    Variant nestedCopy = nested;
    EXPECT_EQ(nested, nestedCopy);
    nested = nested;  // self-assignment keeps the value
    EXPECT_EQ(nested, nestedCopy);
}

// Byte arrays live as one buffer (megabytes of binary data must not cost a Variant per byte),
// and still behave as arrays wherever elements are asked for.
TEST(VariantBytes, HeldAsOneBufferAndStillAnArray) {
    const std::string raw("\x00\xFF\x10", 3);
    Variant fromBytes = Variant::Bytes(raw);
    Variant fromElements =
        Variant::Array(VT_UI1, {Variant::UI1(0), Variant(int32_t(255)), Variant::UI1(16)});
    for (const Variant* v : {&fromBytes, &fromElements}) {
        EXPECT_EQ(v->Type(), VT_ARRAY | VT_UI1);
        EXPECT_EQ(v->BytesView(), raw);  // one buffer, whichever way it was made
        EXPECT_EQ(v->ArrayCount(), 3u);
        EXPECT_EQ(v->ArrayLowBound(), 0);
    }
    EXPECT_EQ(fromBytes, fromElements);
    EXPECT_EQ(Variant::Array(VT_UI1, {Variant::UI1(1)}, 5).ArrayLowBound(), 5);
    EXPECT_FALSE(Variant::Array(VT_UI1, {Variant::UI1(1)}, 5) == Variant::Bytes("\x01"));

    // Elements on demand; widening converts every byte.
    EXPECT_EQ(fromBytes.ArrayData().Elements.at(1), Variant::UI1(255));
    Variant wide = fromBytes.ChangeType(VT_ARRAY | VT_I4);
    EXPECT_EQ(wide.ArrayData().Elements.at(1), Variant::I4(255));
    EXPECT_EQ(wide.ChangeType(VT_ARRAY | VT_UI1), fromBytes);

    // Changing an element through the mutable view changes the value, not its copies.
    Variant copy = fromBytes;
    copy.ArrayData().Elements[0] = Variant::UI1(7);
    EXPECT_EQ(copy.AsBytes(), std::string("\x07\xFF\x10", 3));
    EXPECT_EQ(fromBytes.AsBytes(), raw);
    EXPECT_FALSE(copy == fromBytes);
    EXPECT_THROW(Variant::I4(1).BytesView(), EVariantError);
    EXPECT_THROW(Variant::I4(1).ArrayCount(), EVariantError);
}

TEST(VariantText, DocumentedForms) {
    EXPECT_EQ(Variant(0.1).ToText(), "0.1");
    EXPECT_EQ(Variant(1.0 / 3).ToText(), "0.333333333333333");
    EXPECT_EQ(Variant(-2.5e20).ToText(), "-2.5E20");
    EXPECT_EQ(Variant(1e15).ToText(), "1E15");
    EXPECT_EQ(Variant(123456789012345.0).ToText(), "123456789012345");
    EXPECT_EQ(Variant(0.0001).ToText(), "0.0001");
    EXPECT_EQ(Variant(0.00001).ToText(), "1E-5");
    EXPECT_EQ(Variant(9.9999999999999995).ToText(), "10");
    EXPECT_EQ(Variant(0.0).ToText(), "0");
    EXPECT_EQ(Variant::R4(0.1f).ToText(), "0.1");
    EXPECT_EQ(Variant::R4(16777217.0f).ToText(), "16777220");
    EXPECT_EQ(Variant(std::numeric_limits<double>::infinity()).ToText(), "INF");
    EXPECT_EQ(Variant(-std::numeric_limits<double>::infinity()).ToText(), "-INF");
    EXPECT_EQ(Variant(std::nan("")).ToText(), "NAN");
    EXPECT_EQ(Variant::Currency(12345678).ToText(), "1234.5678");
    EXPECT_EQ(Variant::Currency(-15000).ToText(), "-1.5");
    EXPECT_EQ(Variant::Currency(INT64_MIN).ToText(), "-922337203685477.5808");
    EXPECT_EQ(Variant::CurrencyFromDouble(1.23456).RawInt(), 12346);
    EXPECT_EQ(Variant::Error(int32_t(0x80004005)).ToText(), "-2147467259");
    EXPECT_EQ(Variant::I1(-5).ToText(), "-5");
    EXPECT_EQ(Variant::UI8(UINT64_MAX).ToText(), "18446744073709551615");
    EXPECT_EQ(Variant::Date(EncodeDateTime(2024, 3, 1)).ToText(), "2024-03-01");
    EXPECT_EQ(Variant::Date(EncodeDateTime(2024, 3, 1, 7, 8, 9, 10)).ToText(),
              "2024-03-01 07:08:09.010");
    EXPECT_EQ(Variant::Date(0.75).ToText(), "18:00:00");
    EXPECT_EQ(Variant::Date(0).ToText(), "1899-12-30");
}

}  // namespace
}  // namespace velqor
