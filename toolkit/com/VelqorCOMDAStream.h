// The DA 1.0 data stream: what an OPC DA 1.0 server hands its IAdviseSink in one global memory
// block. A group header (OPCGROUPHEADER, 20 bytes) is followed by one item header per item
// (OPCITEMHEADER1 with a timestamp, 20 bytes, or OPCITEMHEADER2 without, 12 bytes) and the items'
// values: each a VARIANT of the platform's layout at the offset its header names, a string's
// byte count (4 bytes) and UTF-16 characters stored right behind its VARIANT.
//
// The decoder reads nothing outside the block. A stream whose header disagrees with its length
// is refused as a whole; an item whose value lies outside the block, or is of a kind a stream
// cannot carry (pointers, arrays, references), gets an error update of its own, and the other
// items are decoded as usual. Only the two major quality bits are kept (0xC0).
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

struct TDecodedStream {
    uint32_t TransactionID = 0;
    int32_t Status = 0;  // hrStatus: a failure means the stream carries nothing
    // One update per item header, in stream order: client handle, value, quality (masked),
    // timestamp (with time); kLearnCanonical set. Malformed items carry kError and kQuality 0.
    std::vector<ItemUpdate> Items;
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

// Builds a stream as a server would (for tests, benchmarks and fuzzing seeds): one entry per
// update (its client handle, value, quality and timestamp; values of scalar kinds and strings).
std::string EncodeDataStream(const std::vector<ItemUpdate>& items, bool withTime,
                             uint32_t clientGroup, uint32_t transactionID, int32_t status);

}  // namespace velqor
