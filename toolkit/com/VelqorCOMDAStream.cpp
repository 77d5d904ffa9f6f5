#include "com/VelqorCOMDAStream.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "com/ComValues.h"
#include "com/OpcDaIntf.h"
#include "com/runtime/ComText.h"

namespace velqor {

namespace {

constexpr size_t kGroupHeader = sizeof(OPCGROUPHEADER);
constexpr size_t kValueAt = 8;    // where a VARIANT's value starts, in both layouts
constexpr size_t kAlignment = 8;  // fewer bytes than this between values are padding
constexpr uint16_t kQualityMajor = 0xC0;

template <class T>
T ReadAt(const uint8_t* data, size_t at) {
    T v;
    std::memcpy(&v, data + at, sizeof v);
    return v;
}

template <class T>
void WriteAt(std::string& block, size_t at, T v) {
    std::memcpy(block.data() + at, &v, sizeof v);
}

// The value of a scalar VARIANT from its value bytes; false for kinds a stream cannot carry
// (anything holding a pointer) and for strings, which are read from behind the VARIANT.
bool ScalarValue(VARTYPE vt, const uint8_t* p, Variant& out) {
    switch (vt) {
        case VT_EMPTY:
            out = Variant();
            return true;
        case VT_NULL:
            out = Variant::Null();
            return true;
        case VT_I1:
            out = Variant::I1(ReadAt<int8_t>(p, 0));
            return true;
        case VT_UI1:
            out = Variant::UI1(ReadAt<uint8_t>(p, 0));
            return true;
        case VT_I2:
            out = Variant::I2(ReadAt<int16_t>(p, 0));
            return true;
        case VT_UI2:
            out = Variant::UI2(ReadAt<uint16_t>(p, 0));
            return true;
        case VT_I4:
            out = Variant::I4(ReadAt<int32_t>(p, 0));
            return true;
        case VT_UI4:
            out = Variant::UI4(ReadAt<uint32_t>(p, 0));
            return true;
        case VT_INT:
            out = Variant::Int(ReadAt<int32_t>(p, 0));
            return true;
        case VT_UINT:
            out = Variant::UInt(ReadAt<uint32_t>(p, 0));
            return true;
        case VT_I8:
            out = Variant::I8(ReadAt<int64_t>(p, 0));
            return true;
        case VT_UI8:
            out = Variant::UI8(ReadAt<uint64_t>(p, 0));
            return true;
        case VT_R4:
            out = Variant::R4(ReadAt<float>(p, 0));
            return true;
        case VT_R8:
            out = Variant::R8(ReadAt<double>(p, 0));
            return true;
        case VT_CY:
            out = Variant::Currency(ReadAt<int64_t>(p, 0));
            return true;
        case VT_DATE:
            out = Variant::Date(ReadAt<double>(p, 0));
            return true;
        case VT_BOOL:
            out = Variant::Bool(ReadAt<int16_t>(p, 0) != 0);
            return true;
        case VT_ERROR:
            out = Variant::Error(ReadAt<int32_t>(p, 0));
            return true;
        default:
            return false;
    }
}

// One value read in one layout.
struct Reading {
    size_t End = 0;          // where it ends; 0 when it does not fit
    size_t StringBytes = 0;  // a string's byte count
    bool Tight = false;      // fewer than kAlignment bytes are left behind it
};

// The value at `at` read with VARIANTs of `variant` bytes; it has to end by `limit` (the next
// value's offset or the block's end).
Reading Read(const uint8_t* data, size_t limit, size_t at, size_t variant) {
    Reading r;
    if (at > limit || limit - at < variant) return r;
    size_t end = at + variant;
    if (ReadAt<VARTYPE>(data, at) == VT_BSTR) {
        if (limit - end < 4) return r;
        const uint32_t bytes = ReadAt<uint32_t>(data, end);
        if (bytes % 2 != 0 || bytes > limit - end - 4) return r;
        end += 4 + bytes;
        if (limit - end >= 2 && ReadAt<uint16_t>(data, end) == 0) end += 2;
        r.StringBytes = bytes;
    }
    r.End = end;
    r.Tight = limit - end < kAlignment;
    return r;
}

// Where each value has to end: by the next value's offset, or by the block's end.
std::vector<size_t> ValueLimits(const std::vector<size_t>& valueAt, size_t size) {
    std::vector<size_t> sorted = valueAt;
    std::sort(sorted.begin(), sorted.end());
    std::vector<size_t> limit;
    limit.reserve(valueAt.size());
    for (const size_t at : valueAt) {
        const auto next = std::upper_bound(sorted.begin(), sorted.end(), at);
        limit.push_back(next == sorted.end() ? size : std::min(*next, size));
    }
    return limit;
}

// The layout that explains the block better: more values fitting tightly, then more string
// bytes, then the 24-byte one.
TStreamLayout BlockLayout(const uint8_t* data, const std::vector<size_t>& valueAt,
                          const std::vector<size_t>& limit) {
    std::pair<size_t, size_t> score16{}, score24{};  // values fitting tightly, string bytes
    for (size_t i = 0; i < valueAt.size(); ++i) {
        const Reading r16 = Read(data, limit[i], valueAt[i], 16);
        const Reading r24 = Read(data, limit[i], valueAt[i], 24);
        score16.first += r16.Tight;
        score16.second += r16.StringBytes;
        score24.first += r24.Tight;
        score24.second += r24.StringBytes;
    }
    return score16 > score24 ? TStreamLayout::Variant16 : TStreamLayout::Variant24;
}

void MarkMalformed(ItemUpdate& u) {
    u.Value = Variant();
    u.Fields = ItemUpdate::kQuality | ItemUpdate::kError;
    u.Quality = 0;
    u.Error = kMalformedAnswer;
    u.ErrorDetail = kMalformedStreamValue;
}

// The value of an item known to fit, read with VARIANTs of `variant` bytes; false for kinds a
// stream cannot carry.
bool StreamValue(const uint8_t* data, size_t at, size_t variant, Variant& out) {
    const VARTYPE vt = ReadAt<VARTYPE>(data, at);
    if (vt != VT_BSTR) return ScalarValue(vt, data + at + kValueAt, out);
    const uint32_t bytes = ReadAt<uint32_t>(data, at + variant);
    std::u16string text(bytes / 2, u'\0');
    std::memcpy(text.data(), data + at + variant + 4, bytes);
    out = Variant::Str(com::Utf16ToUtf8(text));
    return true;
}

}  // namespace

bool DecodeDataStream(const uint8_t* data, size_t size, bool withTime, TDecodedStream& out) {
    out = TDecodedStream{};
    if (!data || size < kGroupHeader) return false;
    const OPCGROUPHEADER head = ReadAt<OPCGROUPHEADER>(data, 0);
    const size_t itemHeader = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
    if (head.dwItemCount > (size - kGroupHeader) / itemHeader) return false;
    out.TransactionID = head.dwTransactionID;
    out.Status = head.hrStatus;
    if (FAILED(head.hrStatus)) return true;
    const size_t count = head.dwItemCount;
    std::vector<size_t> valueAt(count);
    for (size_t i = 0; i < count; ++i)
        valueAt[i] = ReadAt<OPCITEMHEADER2>(data, kGroupHeader + i * itemHeader).dwValueOffset;
    const std::vector<size_t> limit = ValueLimits(valueAt, size);
    out.Layout = BlockLayout(data, valueAt, limit);
    const size_t variant = size_t(out.Layout), otherVariant = variant == 16 ? 24 : 16;

    out.Items.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const size_t at = kGroupHeader + i * itemHeader;
        // Both header kinds begin alike; the timestamp follows in the longer one.
        const OPCITEMHEADER2 item = ReadAt<OPCITEMHEADER2>(data, at);
        ItemUpdate& u = out.Items.emplace_back();
        u.ClientHandle = item.hClient;
        const Reading r = Read(data, limit[i], valueAt[i], variant);
        // A string that only the other layout reads tightly belongs to a block mixing layouts.
        const bool mixed = r.End && !r.Tight && ReadAt<VARTYPE>(data, valueAt[i]) == VT_BSTR &&
                           Read(data, limit[i], valueAt[i], otherVariant).Tight;
        if (!r.End || mixed || !StreamValue(data, valueAt[i], variant, u.Value)) {
            MarkMalformed(u);
            continue;
        }
        u.Fields = ItemUpdate::kValue | ItemUpdate::kQuality | ItemUpdate::kLearnCanonical;
        u.Quality = item.wQuality & kQualityMajor;
        if (withTime) {
            u.Fields |= ItemUpdate::kTimeStamp;
            u.TimeStamp = FileTimeToLocalDateTime(ReadAt<OPCITEMHEADER1>(data, at).ftTimeStampItem);
        }
    }
    return true;
}

bool DecodeWriteStream(const uint8_t* data, size_t size, TDecodedWriteStream& out) {
    out = TDecodedWriteStream{};
    if (!data || size < sizeof(OPCGROUPHEADERWRITE)) return false;
    const OPCGROUPHEADERWRITE head = ReadAt<OPCGROUPHEADERWRITE>(data, 0);
    if (head.dwItemCount > (size - sizeof head) / sizeof(OPCITEMHEADERWRITE)) return false;
    out.TransactionID = head.dwTransactionID;
    out.Status = head.hrStatus;
    out.Items.reserve(head.dwItemCount);
    for (size_t i = 0; i < head.dwItemCount; ++i) {
        const auto item =
            ReadAt<OPCITEMHEADERWRITE>(data, sizeof head + i * sizeof(OPCITEMHEADERWRITE));
        out.Items.push_back({item.hClient, item.dwError});
    }
    return true;
}

namespace {

// The value bytes of a scalar; false for kinds the encoder does not write.
bool ScalarBytes(const Variant& v, uint64_t& bits) {
    bits = 0;
    switch (v.Type()) {
        case VT_EMPTY:
        case VT_NULL:
            return true;
        case VT_R4: {
            const float f = float(v.RawDouble());
            std::memcpy(&bits, &f, sizeof f);
            return true;
        }
        case VT_R8:
        case VT_DATE: {
            const double d = v.RawDouble();
            std::memcpy(&bits, &d, sizeof d);
            return true;
        }
        case VT_BOOL: {
            const int16_t b = v.RawInt() ? -1 : 0;
            std::memcpy(&bits, &b, sizeof b);
            return true;
        }
        case VT_UI1:
        case VT_UI2:
        case VT_UI4:
        case VT_UINT:
        case VT_UI8:
            bits = v.RawUInt();
            return true;
        case VT_I1:
        case VT_I2:
        case VT_I4:
        case VT_INT:
        case VT_I8:
        case VT_CY:
        case VT_ERROR:
            bits = uint64_t(v.RawInt());
            return true;
        default:
            return false;
    }
}

}  // namespace

std::string EncodeDataStream(const std::vector<ItemUpdate>& items, bool withTime,
                             uint32_t clientGroup, uint32_t transactionID, int32_t status,
                             TStreamLayout layout) {
    const size_t variant = size_t(layout);
    const size_t itemHeader = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
    std::string block(kGroupHeader + items.size() * itemHeader, '\0');
    for (size_t i = 0; i < items.size(); ++i) {
        const ItemUpdate& u = items[i];
        const size_t valueAt = block.size();
        OPCITEMHEADER1 head{};
        head.hClient = u.ClientHandle;
        head.dwValueOffset = DWORD(valueAt);
        head.wQuality = WORD(u.Quality);
        head.ftTimeStampItem = LocalDateTimeToFileTime(u.TimeStamp);
        std::memcpy(block.data() + kGroupHeader + i * itemHeader, &head, itemHeader);
        block.append(variant, '\0');
        WriteAt<VARTYPE>(block, valueAt, u.Value.IsString() ? VARTYPE(VT_BSTR) : u.Value.Type());
        if (u.Value.IsString()) {
            const std::u16string text = com::Utf8ToUtf16(u.Value.RawString());
            const uint32_t bytes = uint32_t(text.size() * 2);
            block.append(4 + bytes + 2, '\0');
            WriteAt<uint32_t>(block, valueAt + variant, bytes);
            std::memcpy(block.data() + valueAt + variant + 4, text.data(), bytes);
        } else {
            uint64_t bits = 0;
            if (!ScalarBytes(u.Value, bits)) WriteAt<VARTYPE>(block, valueAt, VT_EMPTY);
            WriteAt<uint64_t>(block, valueAt + kValueAt, bits);
        }
    }
    OPCGROUPHEADER head{};
    head.dwSize = DWORD(block.size());
    head.dwItemCount = DWORD(items.size());
    head.hClientGroup = clientGroup;
    head.dwTransactionID = transactionID;
    head.hrStatus = status;
    std::memcpy(block.data(), &head, sizeof head);
    return block;
}

}  // namespace velqor
