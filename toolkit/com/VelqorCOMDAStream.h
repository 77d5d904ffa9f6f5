// The DA 1.0 data stream: what an OPC DA 1.0 server hands its IAdviseSink in one global memory
// block. A group header (OPCGROUPHEADER, 20 bytes) is followed by one item header per item
// (OPCITEMHEADER1 with a timestamp, 20 bytes, or OPCITEMHEADER2 without, 12 bytes) and the items'
// values: each a VARIANT at the offset its header names, a string's byte count (4 bytes) and
// UTF-16 characters stored right behind its VARIANT.
//
// The VARIANTs are in the sender's layout: 16 bytes from a 32-bit server, 24 from a 64-bit one
// (the value starts at byte 8 in both; a string's count lies right behind the VARIANT). The
// block does not say which, so every value is read both ways. A reading fits when the VARIANT
// (and a string's count, characters and terminating zero character, where there is one) lies
// inside the block and ends by the next value's offset (values never overlap), and fits tightly
// when fewer than 8 bytes (alignment) are left before that offset or the block's end. Read as
// 16-byte, a 24-byte block leaves 8 unread bytes behind each value (its strings' counts come
// from the unused pointer half); read as 24-byte, a 16-byte block overruns its values (strings'
// counts come from their characters). So the block's layout is the one more values fit tightly;
// on a draw, the one whose strings hold more characters (the other reads zero padding as empty
// strings); on a draw again, the 24-byte one (both readings then give the same values).
//
// The decoder reads nothing outside the block. A stream whose header disagrees with its length
// is refused as a whole. An item gets an error update of its own, and the other items are
// decoded as usual, when its value does not fit the block's layout, when it is a string that
// fits the other layout tightly and this one only loosely (a block mixing layouts), or when it is
// of a kind a stream cannot carry (pointers, arrays, references). Only the two major quality
// bits are kept (0xC0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "contract/VelqorItemData.h"

namespace velqor {

// The error an item of a malformed answer gets (E_UNEXPECTED), with a detail naming what was
// wrong.
inline constexpr int32_t kMalformedAnswer = int32_t(0x8000FFFFU);
// The detail of an item whose stream value could not be read.
inline constexpr const char* kMalformedStreamValue = "malformed value in the server's data stream";

// The two layouts of a stream's values, named by the size of their VARIANTs.
enum class TStreamLayout : uint8_t { Variant16 = 16, Variant24 = 24 };
// What a server of this build's bitness sends.
inline constexpr TStreamLayout kPlatformStreamLayout =
    sizeof(void*) == 8 ? TStreamLayout::Variant24 : TStreamLayout::Variant16;

struct TDecodedStream {
    uint32_t TransactionID = 0;
    int32_t Status = 0;  // hrStatus: a failure means the stream carries nothing
    // One update per item header, in stream order: client handle, value, quality (masked),
    // timestamp (with time); kLearnCanonical set. Malformed items carry kError and kQuality 0.
    std::vector<ItemUpdate> Items;
    TStreamLayout Layout = kPlatformStreamLayout;  // what the values were read as
};

// Decodes one stream; false (and out empty) when the block is too short for its headers.
bool DecodeDataStream(const uint8_t* data, size_t size, bool withTime, TDecodedStream& out);

// One item of a write-complete stream ("OPCSTMFORMATWRITECOMPLETE": OPCGROUPHEADERWRITE, 16
// bytes, then OPCITEMHEADERWRITE, 8 bytes per item): its client handle and result.
struct TWriteResult {
    uint32_t ClientHandle = 0;
    int32_t Error = 0;
};
struct TDecodedWriteStream {
    uint32_t TransactionID = 0;
    int32_t Status = 0;
    std::vector<TWriteResult> Items;
};
// Decodes a write-complete stream; false (and out empty) when the block is too short for it.
bool DecodeWriteStream(const uint8_t* data, size_t size, TDecodedWriteStream& out);

// Builds a stream as a server of the layout's bitness would (for tests, benchmarks and fuzzing
// seeds): one entry per update (its client handle, value, quality and timestamp; values of scalar
// kinds and strings), each value right behind the previous one.
std::string EncodeDataStream(const std::vector<ItemUpdate>& items, bool withTime,
                             uint32_t clientGroup, uint32_t transactionID, int32_t status,
                             TStreamLayout layout = kPlatformStreamLayout);

}  // namespace velqor
