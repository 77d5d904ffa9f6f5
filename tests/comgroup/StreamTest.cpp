// The DA 1.0 stream decoder on blocks laid out byte by byte here (not by the toolkit's encoder):
// headers with and without time, string values behind their VARIANT, quality masking, blocks
// that lie about their length, and the 16-byte (32-bit sender) and 24-byte (64-bit sender)
// VARIANT layouts, alone and mixed.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "com/ComValues.h"
#include "com/VelqorCOMDAStream.h"

namespace velqor::test {
namespace {

// A block written field by field at explicit offsets, its VARIANTs `variant` bytes long.
struct Block {
    std::string bytes;
    size_t variant = sizeof(VARIANT);
    template <class T>
    void Put(size_t at, T v) {
        if (bytes.size() < at + sizeof v) bytes.resize(at + sizeof v, '\0');
        std::memcpy(bytes.data() + at, &v, sizeof v);
    }
    void Header(uint32_t count, uint32_t transaction, int32_t status) {
        Put<uint32_t>(0, 0);  // dwSize, never read
        Put<uint32_t>(4, count);
        Put<uint32_t>(8, 77);
        Put<uint32_t>(12, transaction);
        Put<int32_t>(16, status);
    }
    // Item header i (20 bytes with time, 12 without).
    void Item(size_t i, bool withTime, uint32_t handle, uint32_t valueAt, uint16_t quality,
              FILETIME time = {}) {
        const size_t at = 20 + i * (withTime ? 20 : 12);
        Put<uint32_t>(at, handle);
        Put<uint32_t>(at + 4, valueAt);
        Put<uint16_t>(at + 8, quality);
        Put<uint16_t>(at + 10, 0);
        if (withTime) Put<FILETIME>(at + 12, time);
    }
    void Scalar(size_t at, uint16_t vt, uint64_t bits) {
        Put<uint16_t>(at, vt);
        Put<uint64_t>(at + 8, bits);
        if (bytes.size() < at + variant) bytes.resize(at + variant, '\0');
    }
    void String(size_t at, const std::u16string& text, uint32_t declaredBytes) {
        Scalar(at, VT_BSTR, 0);
        Put<uint32_t>(at + variant, declaredBytes);
        for (size_t i = 0; i < text.size(); ++i) Put<char16_t>(at + variant + 4 + 2 * i, text[i]);
        Put<char16_t>(at + variant + 4 + 2 * text.size(), 0);
    }
    bool Decode(bool withTime, TDecodedStream& out) const {
        return DecodeDataStream(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
                                withTime, out);
    }
};

TEST(DataStream, ItemsWithTimeStringsAndMaskedQuality) {
    const FILETIME ft = LocalDateTimeToFileTime(45000.5);
    Block b;
    b.Header(3, 9, 0);
    const uint32_t v0 = 20 + 3 * 20, v1 = v0 + uint32_t(b.variant), v2 = v1 + uint32_t(b.variant);
    b.Item(0, true, 11, v0, 0xD8, ft);  // good, local override: only the major bits stay
    b.Item(1, true, 12, v1, 0x40, ft);
    b.Item(2, true, 13, v2, 0xC0, ft);
    b.Scalar(v0, VT_I4, uint64_t(uint32_t(-5)));
    double d = 2.25;
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    b.Scalar(v1, VT_R8, bits);
    b.String(v2, u"Pump \u00e9", 12);
    TDecodedStream s;
    ASSERT_TRUE(b.Decode(true, s));
    EXPECT_EQ(s.TransactionID, 9u);
    ASSERT_EQ(s.Items.size(), 3u);
    EXPECT_EQ(s.Items[0].ClientHandle, 11u);
    EXPECT_EQ(s.Items[0].Quality, 0xC0);
    EXPECT_EQ(s.Items[0].Value, Variant::I4(-5));
    EXPECT_DOUBLE_EQ(s.Items[0].TimeStamp, FileTimeToLocalDateTime(ft));
    EXPECT_EQ(s.Items[1].Quality, 0x40);
    EXPECT_EQ(s.Items[1].Value, Variant::R8(2.25));
    EXPECT_EQ(s.Items[2].Value, Variant::Str("Pump \xc3\xa9"));
    for (const ItemUpdate& u : s.Items) {
        EXPECT_FALSE(u.Fields & ItemUpdate::kError);
        EXPECT_FALSE(u.Fields & ItemUpdate::kCountUpdate);  // the stream path does not count
    }
}

TEST(DataStream, ItemsWithoutTimeUseShortHeaders) {
    Block b;
    b.Header(2, 0, 0);
    const uint32_t v0 = 20 + 2 * 12, v1 = v0 + uint32_t(b.variant);
    b.Item(0, false, 1, v0, 0xC0);
    b.Item(1, false, 2, v1, 0x00);
    b.Scalar(v0, VT_BOOL, 0xFFFF);
    b.Scalar(v1, VT_UI2, 65535);
    TDecodedStream s;
    ASSERT_TRUE(b.Decode(false, s));
    ASSERT_EQ(s.Items.size(), 2u);
    EXPECT_EQ(s.Items[0].Value, Variant::Bool(true));
    EXPECT_EQ(s.Items[1].Value, Variant::UI2(65535));
    EXPECT_FALSE(s.Items[0].Fields & ItemUpdate::kTimeStamp);
}

// Blocks whose headers promise more than they hold are refused whole; an item whose value
// cannot be read is an error of that item alone, in either layout.
TEST(DataStream, LyingBlocks) {
    struct Case {
        const char* name;
        std::function<void(Block&)> build;
        bool accepted;
        int badItem;  // index of the item with an error, -1 none
    };
    const uint32_t v0 = 20 + 2 * 20;
    uint32_t v1 = 0;  // right behind the first value, in the layout under test
    auto twoItems = [&](Block& b) {
        b.Header(2, 1, 0);
        b.Item(0, true, 1, v0, 0xC0);
        b.Item(1, true, 2, v1, 0xC0);
        b.Scalar(v0, VT_I2, 7);
        b.Scalar(v1, VT_I2, 8);
    };
    const std::vector<Case> cases = {
        {"shorter than a group header", [](Block& b) { b.Put<uint32_t>(4, 0); }, false, -1},
        {"count beyond the block",
         [&](Block& b) {
             twoItems(b);
             b.Put<uint32_t>(4, 0x40000000);
         },
         false, -1},
        {"item headers cut short",
         [](Block& b) {
             b.Header(2, 1, 0);
             b.bytes.resize(20 + 20 + 10);
         },
         false, -1},
        {"value offset past the end",
         [&](Block& b) {
             twoItems(b);
             b.Put<uint32_t>(20 + 20 + 4, 0xFFFFFFF0);
         },
         true, 1},
        {"value cut by the end of the block",
         [&](Block& b) {
             twoItems(b);
             b.bytes.resize(v1 + 4);
         },
         true, 1},
        {"string longer than the block",
         [&](Block& b) {
             twoItems(b);
             b.String(v1, u"ab", 0x7FFFFFF0);
         },
         true, 1},
        {"odd string byte count",
         [&](Block& b) {
             twoItems(b);
             b.String(v1, u"ab", 3);
         },
         true, 1},
        {"array in a stream",
         [&](Block& b) {
             twoItems(b);
             b.Scalar(v0, VT_ARRAY | VT_I4, 0x1000);
         },
         true, 0},
        {"reference in a stream",
         [&](Block& b) {
             twoItems(b);
             b.Scalar(v0, VT_BYREF | VT_I4, 0x1000);
         },
         true, 0},
    };
    for (const size_t variant : {size_t(16), size_t(24)}) {
        v1 = v0 + uint32_t(variant);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + ", VARIANT of " + std::to_string(variant));
            Block b;
            b.variant = variant;
            c.build(b);
            TDecodedStream s;
            ASSERT_EQ(b.Decode(true, s), c.accepted);
            if (!c.accepted) {
                EXPECT_TRUE(s.Items.empty());
                continue;
            }
            ASSERT_EQ(s.Items.size(), 2u);
            for (int i = 0; i < 2; ++i) {
                const ItemUpdate& u = s.Items[size_t(i)];
                if (i == c.badItem) {
                    EXPECT_EQ(u.Error, kMalformedAnswer);
                    EXPECT_EQ(u.Quality, 0);
                    EXPECT_FALSE(u.Fields & ItemUpdate::kValue);
                } else {
                    EXPECT_FALSE(u.Fields & ItemUpdate::kError);
                    EXPECT_EQ(u.Value, Variant::I2(int16_t(7 + i)));
                }
            }
        }
    }
}

// One value as a sender lays it out: a scalar's type and value bytes, or a string; what it
// decodes to; and, for blocks mixing layouts, its own VARIANT size (0: the block's).
struct Sent {
    uint16_t vt = VT_EMPTY;
    uint64_t bits = 0;
    std::u16string text;
    Variant expected;
    size_t variant = 0;
};
Sent I4(int32_t v) { return {VT_I4, uint32_t(v), {}, Variant::I4(v)}; }
Sent R8(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return {VT_R8, bits, {}, Variant::R8(v)};
}
Sent Str(std::u16string text, const char* utf8, size_t variant = 0) {
    return {VT_BSTR, 0, std::move(text), Variant::Str(utf8), variant};
}

// A block of data items with time: each value starts at a multiple of `align`, and the second
// pointer of a 24-byte VARIANT (which a stream leaves unused) holds `slot` bytes.
Block Laid(const std::vector<Sent>& values, size_t variant, size_t align, uint8_t slot) {
    Block b;
    b.Header(uint32_t(values.size()), 1, 0);
    size_t at = 20 + 20 * values.size();
    for (size_t i = 0; i < values.size(); ++i) {
        const Sent& v = values[i];
        b.variant = v.variant ? v.variant : variant;
        at = (at + align - 1) / align * align;
        b.Item(i, true, uint32_t(100 + i), uint32_t(at), 0xC0);
        if (v.vt == VT_BSTR) {
            b.String(at, v.text, uint32_t(2 * v.text.size()));
        } else {
            b.Scalar(at, v.vt, v.bits);
        }
        if (b.variant == 24)
            for (size_t k = 16; k < 24; ++k) b.Put<uint8_t>(at + k, slot);
        at = b.bytes.size();
    }
    b.bytes.resize((at + align - 1) / align * align, '\0');
    return b;
}

// Whatever the sender's bitness and padding, the values decode alike, and the block's layout
// is recognised.
TEST(DataStream, BothLayoutsDecodeToTheSameValues) {
    struct Case {
        const char* name;
        std::vector<Sent> values;
        size_t align;
        uint8_t slot;
    };
    const std::vector<Sent> mixed = {I4(-5),   Str(u"Pump \u00e9", "Pump \xc3\xa9"),
                                     R8(2.25), Str(u"", ""),
                                     I4(7),    Str(u"ab", "ab")};
    const std::vector<Case> cases = {
        {"mixed items, packed", mixed, 1, 0},
        {"mixed items, aligned to 8 bytes", mixed, 8, 0},
        {"mixed items, unused pointer bytes not cleared", mixed, 8, 0xCD},
        {"strings only", {Str(u"abc", "abc"), Str(u"defgh", "defgh"), Str(u"x", "x")}, 1, 0},
        // Read as 24-byte, the padding behind its zero character is an empty string.
        {"one two-character string, aligned to 8 bytes", {Str(u"ab", "ab")}, 8, 0},
        {"one empty string", {Str(u"", "")}, 1, 0},
    };
    for (const Case& c : cases) {
        for (const size_t variant : {size_t(16), size_t(24)}) {
            SCOPED_TRACE(std::string(c.name) + ", VARIANT of " + std::to_string(variant));
            TDecodedStream s;
            ASSERT_TRUE(Laid(c.values, variant, c.align, c.slot).Decode(true, s));
            EXPECT_EQ(size_t(s.Layout), variant);
            ASSERT_EQ(s.Items.size(), c.values.size());
            for (size_t i = 0; i < s.Items.size(); ++i) {
                EXPECT_FALSE(s.Items[i].Fields & ItemUpdate::kError) << i;
                EXPECT_EQ(s.Items[i].ClientHandle, 100 + i);
                EXPECT_EQ(s.Items[i].Value, c.values[i].expected) << i;
            }
        }
    }
}

// A block mixing layouts keeps the layout most of it is in; a string of the other layout is an
// error of its own, never a wrong value.
TEST(DataStream, MixedLayoutsRefusedPerItem) {
    for (const size_t variant : {size_t(16), size_t(24)}) {
        SCOPED_TRACE("block of VARIANTs of " + std::to_string(variant));
        const size_t stray = variant == 16 ? 24 : 16;
        const std::vector<Sent> values = {Str(u"abc", "abc"), I4(3), Str(u"def", "def"),
                                          Str(u"ghi", "", stray)};
        for (const size_t align : {size_t(1), size_t(8)}) {
            TDecodedStream s;
            ASSERT_TRUE(Laid(values, variant, align, 0).Decode(true, s));
            EXPECT_EQ(size_t(s.Layout), variant);
            ASSERT_EQ(s.Items.size(), 4u);
            for (size_t i = 0; i < 3; ++i) EXPECT_EQ(s.Items[i].Value, values[i].expected) << i;
            EXPECT_EQ(s.Items[3].Error, kMalformedAnswer);
            EXPECT_FALSE(s.Items[3].Fields & ItemUpdate::kValue);
        }
    }
}

TEST(DataStream, FailedStatusAndEmptyStreamCarryNothing) {
    Block failed;
    failed.Header(1, 4, int32_t(0x80004005));
    failed.Item(0, true, 1, 40, 0xC0);
    failed.Scalar(40, VT_I4, 1);
    TDecodedStream s;
    ASSERT_TRUE(failed.Decode(true, s));
    EXPECT_EQ(s.TransactionID, 4u);
    EXPECT_TRUE(s.Items.empty());

    Block empty;
    empty.Header(0, 5, 0);
    ASSERT_TRUE(empty.Decode(true, s));
    EXPECT_EQ(s.TransactionID, 5u);
    EXPECT_TRUE(s.Items.empty());
}

// Write-complete streams: the results per item; a count beyond the block is refused.
TEST(DataStream, WriteCompleteStreams) {
    Block b;
    b.Put<uint32_t>(0, 2);   // dwItemCount
    b.Put<uint32_t>(4, 1);   // hClientGroup
    b.Put<uint32_t>(8, 12);  // dwTransactionID
    b.Put<int32_t>(12, 1);   // hrStatus S_FALSE
    b.Put<uint32_t>(16, 21);
    b.Put<int32_t>(20, 0);
    b.Put<uint32_t>(24, 22);
    b.Put<int32_t>(28, int32_t(0xC0040006));
    TDecodedWriteStream w;
    auto decode = [&] {
        return DecodeWriteStream(reinterpret_cast<const uint8_t*>(b.bytes.data()), b.bytes.size(),
                                 w);
    };
    ASSERT_TRUE(decode());
    EXPECT_EQ(w.TransactionID, 12u);
    ASSERT_EQ(w.Items.size(), 2u);
    EXPECT_EQ(w.Items[1].ClientHandle, 22u);
    EXPECT_EQ(w.Items[1].Error, int32_t(0xC0040006));
    b.bytes.resize(28);
    EXPECT_FALSE(decode());
    EXPECT_TRUE(w.Items.empty());
}

// The encoder (seeds for the fuzzer, the benchmark's streams) writes what the decoder reads, in
// either layout.
TEST(DataStream, EncoderRoundTrip) {
    std::vector<ItemUpdate> in(3);
    in[0].ClientHandle = 5;
    in[0].Value = Variant::Str("x\xe2\x82\xac");
    in[0].Quality = 0xC0;
    in[0].TimeStamp = 45000.25;
    in[1].ClientHandle = 6;
    in[1].Value = Variant::R4(1.5f);
    in[1].Quality = 0x50;
    in[2].ClientHandle = 7;
    in[2].Value = Variant::Currency(123456);
    for (const auto layout : {TStreamLayout::Variant16, TStreamLayout::Variant24}) {
        for (bool withTime : {true, false}) {
            const std::string block = EncodeDataStream(in, withTime, 1, 2, 0, layout);
            TDecodedStream s;
            ASSERT_TRUE(DecodeDataStream(reinterpret_cast<const uint8_t*>(block.data()),
                                         block.size(), withTime, s));
            EXPECT_EQ(s.Layout, layout);
            ASSERT_EQ(s.Items.size(), 3u);
            for (size_t i = 0; i < 3; ++i) {
                EXPECT_EQ(s.Items[i].ClientHandle, in[i].ClientHandle);
                EXPECT_EQ(s.Items[i].Value, in[i].Value);
                EXPECT_EQ(s.Items[i].Quality, in[i].Quality & 0xC0);
            }
            if (withTime) {
                EXPECT_NEAR(s.Items[0].TimeStamp, 45000.25, 1e-6);
            }
        }
    }
}

}  // namespace
}  // namespace velqor::test
