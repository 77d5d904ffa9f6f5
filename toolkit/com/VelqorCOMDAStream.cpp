#include "com/VelqorCOMDAStream.h"

#include <cstring>

#include "com/ComValues.h"
#include "com/OpcDaIntf.h"
#include "com/runtime/ComText.h"

namespace velqor {

namespace {

constexpr size_t kGroupHeader = sizeof(OPCGROUPHEADER);
constexpr size_t kVariantSize = sizeof(VARIANT);
constexpr size_t kValueAt = 8;  // where a VARIANT's value starts, on every platform
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

// The value at `at`; false when it does not lie wholly inside the block or cannot be carried.
bool StreamValue(const uint8_t* data, size_t size, size_t at, Variant& out) {
    if (at > size || size - at < kVariantSize) return false;
    const VARTYPE vt = ReadAt<VARTYPE>(data, at);
    if (vt != VT_BSTR) return ScalarValue(vt, data + at + kValueAt, out);
    const size_t lengthAt = at + kVariantSize;
    if (size - lengthAt < 4) return false;
    const uint32_t bytes = ReadAt<uint32_t>(data, lengthAt);
    if (bytes % 2 != 0 || bytes > size - lengthAt - 4) return false;
    std::u16string text(bytes / 2, u'\0');
    std::memcpy(text.data(), data + lengthAt + 4, bytes);
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
    out.Items.reserve(head.dwItemCount);
    for (size_t i = 0; i < head.dwItemCount; ++i) {
        const size_t at = kGroupHeader + i * itemHeader;
        // Both header kinds begin alike; the timestamp follows in the longer one.
        const OPCITEMHEADER2 item = ReadAt<OPCITEMHEADER2>(data, at);
        ItemUpdate& u = out.Items.emplace_back();
        u.ClientHandle = item.hClient;
        if (!StreamValue(data, size, item.dwValueOffset, u.Value)) {
            u.Value = Variant();
            u.Fields = ItemUpdate::kQuality | ItemUpdate::kError;
            u.Quality = 0;
            u.Error = kMalformedAnswer;
            u.ErrorDetail = kMalformedStreamValue;
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
                             uint32_t clientGroup, uint32_t transactionID, int32_t status) {
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
        block.append(kVariantSize, '\0');
        WriteAt<VARTYPE>(block, valueAt, u.Value.IsString() ? VARTYPE(VT_BSTR) : u.Value.Type());
        if (u.Value.IsString()) {
            const std::u16string text = com::Utf8ToUtf16(u.Value.RawString());
            const uint32_t bytes = uint32_t(text.size() * 2);
            block.append(4 + bytes + 2, '\0');
            WriteAt<uint32_t>(block, valueAt + kVariantSize, bytes);
            std::memcpy(block.data() + valueAt + kVariantSize + 4, text.data(), bytes);
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
