// DA 1.0 data and write-complete streams: any block decodes without reading outside it, in both
// header layouts; every decoded item names a header's client handle, keeps only the major quality
// bits, and what decodes cleanly encodes in either VARIANT layout and decodes to the same values,
// the layout recognised.
#include <cstdint>
#include <cstring>
#include <string>

#include "com/VelqorCOMDAStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The block is copied to a buffer of exactly its size, so that a read past it is caught.
    auto* block = new uint8_t[size ? size : 1];
    if (size) std::memcpy(block, data, size);
    for (bool withTime : {true, false}) {
        velqor::TDecodedStream s;
        if (!velqor::DecodeDataStream(block, size, withTime, s)) {
            if (!s.Items.empty()) __builtin_trap();
            continue;
        }
        if (s.Items.size() > size / 12) __builtin_trap();
        bool clean = true;
        for (const velqor::ItemUpdate& u : s.Items) {
            if (u.Quality & ~0xC0) __builtin_trap();
            if (u.Fields & velqor::ItemUpdate::kError) clean = false;
        }
        if (!clean || s.Status < 0) continue;
        for (const auto layout :
             {velqor::TStreamLayout::Variant16, velqor::TStreamLayout::Variant24}) {
            const std::string again =
                velqor::EncodeDataStream(s.Items, withTime, 0, s.TransactionID, 0, layout);
            velqor::TDecodedStream t;
            if (!velqor::DecodeDataStream(reinterpret_cast<const uint8_t*>(again.data()),
                                          again.size(), withTime, t))
                __builtin_trap();
            if (t.Items.size() != s.Items.size()) __builtin_trap();
            for (size_t i = 0; i < s.Items.size(); ++i) {
                if (t.Items[i].ClientHandle != s.Items[i].ClientHandle) __builtin_trap();
                if (!(t.Items[i].Value == s.Items[i].Value)) __builtin_trap();
            }
            // Which layout an all-scalar block was written in makes no difference to its values.
            bool strings = false;
            for (const velqor::ItemUpdate& u : s.Items) strings |= u.Value.IsString();
            if (strings && t.Layout != layout) __builtin_trap();
        }
    }
    velqor::TDecodedWriteStream w;
    if (velqor::DecodeWriteStream(block, size, w) && w.Items.size() > size / 8) __builtin_trap();
    delete[] block;
    return 0;
}
