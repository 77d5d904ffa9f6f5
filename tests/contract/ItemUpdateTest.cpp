// The one operation that stores what the server says about an item: which fields an update
// stores, when the counter counts and wraps, when a type is learnt as canonical, and 8-bit text.
#include <gtest/gtest.h>

#include "contract/VelqorIntf.h"
#include "contract/VelqorItemData.h"

namespace velqor {
namespace {

constexpr uint32_t kValue = ItemUpdate::kValue;
constexpr uint32_t kQuality = ItemUpdate::kQuality;
constexpr uint32_t kTimeStamp = ItemUpdate::kTimeStamp;
constexpr uint32_t kError = ItemUpdate::kError;
constexpr uint32_t kCount = ItemUpdate::kCountUpdate;
constexpr uint32_t kReceived = ItemUpdate::kLearnCanonical;

// Every case starts from an item holding I4 7, quality 0xC0, timestamp 100, error
// OPC_E_RANGE; the update carries quality 0x40, timestamp 200 and error OPC_S_CLAMP besides
// its value.
struct Case {
    const char* name;
    int32_t requested, canonical, count;  // the item before
    uint32_t fields;
    Variant value;
    // the item after
    Variant wantValue;
    int32_t wantQuality;
    double wantTimeStamp;
    int32_t wantError, wantCount, wantCanonical;
};

TEST(ItemUpdate, StoresTheNamedFieldsUnderTheStoringRules) {
    const Variant old = Variant::I4(7), r8 = Variant::R8(2.5);
    const int32_t range = OPC_E_RANGE, clamp = OPC_S_CLAMP;
    const Case cases[] = {
        {"nothing named", 0, 0, 5, 0, r8, old, 0xC0, 100, range, 5, 0},
        {"value only", 0, 0, 5, kValue, r8, r8, 0xC0, 100, range, 5, 0},
        {"quality only", 0, 0, 5, kQuality, r8, old, 0x40, 100, range, 5, 0},
        {"timestamp only", 0, 0, 5, kTimeStamp, r8, old, 0xC0, 200, range, 5, 0},
        {"error only", 0, 0, 5, kError, r8, old, 0xC0, 100, clamp, 5, 0},
        {"count only", 0, 0, 5, kCount, r8, old, 0xC0, 100, range, 6, 0},
        {"a received data change", 0, 0, 5, kValue | kQuality | kTimeStamp | kCount | kReceived, r8,
         r8, 0x40, 200, range, 6, VT_R8},
        {"a received value without its flag", 0, 0, 5, kReceived, r8, old, 0xC0, 100, range, 5, 0},
        {"8-bit text received", 0, 0, 5, kValue | kReceived, Variant::AnsiStr("abc"),
         Variant::Str("abc"), 0xC0, 100, range, 5, VT_BSTR},
        {"8-bit text echoed", 0, 0, 5, kValue, Variant::AnsiStr("abc"), Variant::AnsiStr("abc"),
         0xC0, 100, range, 5, 0},
        {"wide text received", 0, 0, 5, kValue | kReceived, Variant::Str("x"), Variant::Str("x"),
         0xC0, 100, range, 5, VT_BSTR},
        {"a type requested", VT_BSTR, 0, 5, kValue | kReceived, r8, r8, 0xC0, 100, range, 5, 0},
        {"a type already known", 0, VT_I2, 5, kValue | kReceived, r8, r8, 0xC0, 100, range, 5,
         VT_I2},
        {"counter before the wrap", 0, 0, 0x7FFFFFFD, kCount, r8, old, 0xC0, 100, range, 0x7FFFFFFE,
         0},
        {"counter at the wrap", 0, 0, 0x7FFFFFFE, kCount, r8, old, 0xC0, 100, range, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TVelqorItemData item;
        ItemUpdate before;
        before.Fields = kValue | kQuality | kTimeStamp | kError;
        before.Value = old;
        before.Quality = 0xC0;
        before.TimeStamp = 100;
        before.Error = range;
        item.ApplyUpdate(before);
        item.FRequestDatatype = c.requested;
        item.FCanonicalDatatype = c.canonical;
        item.ResetUpdateCount(c.count);

        ItemUpdate u;
        u.Fields = c.fields;
        u.Value = c.value;
        u.Quality = 0x40;
        u.TimeStamp = 200;
        u.Error = clamp;
        item.ApplyUpdate(u);

        EXPECT_EQ(item.Value(), c.wantValue);  // type and content
        EXPECT_EQ(item.Quality(), c.wantQuality);
        EXPECT_EQ(item.TimeStamp(), c.wantTimeStamp);
        EXPECT_EQ(item.Error(), c.wantError);
        EXPECT_EQ(item.UpdateCount(), c.wantCount);
        EXPECT_EQ(item.CanonicalDatatype(), c.wantCanonical);
    }
}

TEST(ItemUpdate, TheFirstReceivedTypeStaysCanonical) {
    TVelqorItemData item;
    ItemUpdate u;
    u.Fields = kValue | kReceived;
    u.Value = Variant::AnsiStr("abc");
    item.ApplyUpdate(u);
    u.Value = Variant::I4(1);
    item.ApplyUpdate(u);
    EXPECT_EQ(item.Value(), Variant::I4(1));
    EXPECT_EQ(item.CanonicalDatatype(), VT_BSTR);
}

}  // namespace
}  // namespace velqor
