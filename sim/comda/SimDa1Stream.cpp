// The DA 1.0 data and write-complete streams in global memory, VARIANTs in this build's layout
// (16 bytes from a 32-bit server, 24 from a 64-bit one; clients read both). A stream carries no
// pointers a client could follow: a string's characters travel behind its VARIANT (a 4-byte byte
// count, the UTF-16 characters and a 0 character), and a value that would need a pointer of
// another kind (arrays, references, interfaces) goes out empty with bad quality (configuration
// error).
#include <cstring>

#include "SimGroup.h"

namespace velqor::sim {
namespace {

constexpr std::size_t Align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

bool InlineValue(VARTYPE vt) {
    if (vt & (VT_ARRAY | VT_BYREF)) return false;
    return vt != VT_UNKNOWN && vt != VT_DISPATCH && vt != VT_RECORD;
}

std::size_t StringBytes(const VARIANT& v) {
    return v.vt == VT_BSTR ? SysStringByteLen(v.bstrVal) : 0;
}

}  // namespace

HGLOBAL BuildDataStream(OPCHANDLE clientGroup, DWORD transaction, HRESULT status, bool withTime,
                        const std::vector<SimItemValue>& values, bool wrongHeader) {
    const std::size_t header = withTime ? sizeof(OPCITEMHEADER1) : sizeof(OPCITEMHEADER2);
    std::size_t size = Align8(sizeof(OPCGROUPHEADER) + values.size() * header);
    std::vector<std::size_t> offsets;
    for (const auto& v : values) {
        offsets.push_back(size);
        size += sizeof(VARIANT);
        if (v.Value.vt == VT_BSTR) size += sizeof(DWORD) + StringBytes(v.Value) + sizeof(OLECHAR);
        size = Align8(size);
    }
    HGLOBAL block = GlobalAlloc(GHND, size);
    if (!block) return nullptr;
    auto* base = static_cast<BYTE*>(GlobalLock(block));
    OPCGROUPHEADER group{static_cast<DWORD>(size), static_cast<DWORD>(values.size()), clientGroup,
                         transaction, status};
    // The bad-stream switch: a header naming far more items than the block holds.
    if (wrongHeader) group.dwItemCount += 1000;
    std::memcpy(base, &group, sizeof group);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const SimItemValue& v = values[i];
        VARIANT value = v.Value;
        WORD quality = v.Quality;
        if (!InlineValue(value.vt)) {
            VariantInit(&value);
            quality = OPC_QUALITY_BAD | OPC_QUALITY_CONFIG_ERROR;
        }
        BYTE* at = base + offsets[i];
        if (value.vt == VT_BSTR) {
            auto bytes = static_cast<DWORD>(StringBytes(value));
            std::memcpy(at + sizeof(VARIANT), &bytes, sizeof bytes);
            if (bytes) std::memcpy(at + sizeof(VARIANT) + sizeof bytes, value.bstrVal, bytes);
            value.bstrVal = nullptr;  // the characters follow; no pointer travels
        }
        std::memcpy(at, &value, sizeof value);
        BYTE* item = base + sizeof(OPCGROUPHEADER) + i * header;
        if (withTime) {
            OPCITEMHEADER1 h{v.Client, static_cast<DWORD>(offsets[i]), quality, 0, v.Time};
            std::memcpy(item, &h, sizeof h);
        } else {
            OPCITEMHEADER2 h{v.Client, static_cast<DWORD>(offsets[i]), quality, 0};
            std::memcpy(item, &h, sizeof h);
        }
    }
    GlobalUnlock(block);
    return block;
}

HGLOBAL BuildWriteStream(OPCHANDLE clientGroup, DWORD transaction, HRESULT status,
                         const std::vector<SimItemValue>& results) {
    std::size_t size = sizeof(OPCGROUPHEADERWRITE) + results.size() * sizeof(OPCITEMHEADERWRITE);
    HGLOBAL block = GlobalAlloc(GHND, size);
    if (!block) return nullptr;
    auto* base = static_cast<BYTE*>(GlobalLock(block));
    OPCGROUPHEADERWRITE group{static_cast<DWORD>(results.size()), clientGroup, transaction, status};
    std::memcpy(base, &group, sizeof group);
    for (std::size_t i = 0; i < results.size(); ++i) {
        OPCITEMHEADERWRITE h{results[i].Client, results[i].Error};
        std::memcpy(base + sizeof group + i * sizeof h, &h, sizeof h);
    }
    GlobalUnlock(block);
    return block;
}

}  // namespace velqor::sim
