// The DA 1.0 stream decoder on blocks laid out byte by byte here (not by the toolkit's encoder):
// headers with and without time, string values behind their VARIANT, quality masking, and
// blocks that lie about their length.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "com/ComValues.h"
#include "com/VelqorCOMDAStream.h"

namespace velqor::test {
namespace {

constexpr size_t kVariant = sizeof(VARIANT);

// A block written field by field at explicit offsets.
struct Block {
    std::string bytes;
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
        if (bytes.size() < at + kVariant) bytes.resize(at + kVariant, '\0');
    }
    void String(size_t at, const std::u16string& text, uint32_t declaredBytes) {
        Scalar(at, VT_BSTR, 0);
        Put<uint32_t>(at + kVariant, declaredBytes);
        for (size_t i = 0; i < text.size(); ++i) Put<char16_t>(at + kVariant + 4 + 2 * i, text[i]);
        Put<char16_t>(at + kVariant + 4 + 2 * text.size(), 0);
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
    const uint32_t v0 = 20 + 3 * 20, v1 = v0 + uint32_t(kVariant), v2 = v1 + uint32_t(kVariant);
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
    const uint32_t v0 = 20 + 2 * 12, v1 = v0 + uint32_t(kVariant);
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
// cannot be read is an error of that item alone.
TEST(DataStream, LyingBlocks) {
    struct Case {
        const char* name;
        std::function<void(Block&)> build;
        bool accepted;
        int badItem;  // index of the item with an error, -1 none
    };
    const uint32_t v0 = 20 + 2 * 20, v1 = v0 + uint32_t(kVariant);
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
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Block b;
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

// The encoder (seeds for the fuzzer, the benchmark's streams) writes what the decoder reads.
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
    for (bool withTime : {true, false}) {
        const std::string block = EncodeDataStream(in, withTime, 1, 2, 0);
        TDecodedStream s;
        ASSERT_TRUE(DecodeDataStream(reinterpret_cast<const uint8_t*>(block.data()), block.size(),
                                     withTime, s));
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

}  // namespace
}  // namespace velqor::test
