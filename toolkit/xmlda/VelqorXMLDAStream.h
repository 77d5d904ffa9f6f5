// Reading the replies that carry long item lists (SubscriptionPolledRefresh, Read) as a stream,
// without a DOM: each ItemValue is read on its own, handed over and dropped, so the memory a
// reply takes does not grow with its items beyond what the caller keeps.
//
// The streaming reader takes on the usual shape of these replies: one envelope, one body, the
// reply element with attributes, records of attributes, string lists and item values with a
// scalar typed Value. Anything else (a fault, a reply to another operation, arrays, nil values,
// field names in other letter cases, a document the parser refuses) it leaves to the DOM reader,
// which decides what the reply says. Every value and field is stored by the DOM reader's own
// storing and value-decoding rules, so both readers give the same records.
//
//   auto reply = std::make_unique<xmlda::SubscriptionPolledRefreshResponse>();
//   ReadItemListReply(response, "SubscriptionPolledRefresh", *reply,
//                     [&](size_t list, std::unique_ptr<xmlda::ItemValue> v) { ... });
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

#include "soap/VelqorSOAPRemotable.h"
#include "xmlda/OpcXmlDa.h"
#include "xmlda/VelqorSOAPCall.h"

namespace velqor {

// Receives each ItemValue of the reply's item lists (list: index in RItemList), in order.
using TItemValueSink = std::function<void(size_t list, std::unique_ptr<xmlda::ItemValue>)>;

// Reads a reply to `operation` from its bytes: every part except the items of RItemList into
// reply (a new, empty reply record), the items to onItem. False when the reply is not of the
// shape it takes on: reply and whatever onItem received are then to be discarded.
bool StreamItemListReply(std::string_view bytes, std::string_view operation, TRemotable& reply,
                         const TItemValueSink& onItem);

// Puts an item back into the list it came from (what the DOM reader would have done).
void KeepInItemLists(TRemotable& reply, size_t list, std::unique_ptr<xmlda::ItemValue> item);

// The whole reply of an item-list operation, items in their lists: streamed when it can be,
// else read by the DOM reader, which raises for faults, non-envelopes and replies to other
// operations as CallXmlDaOperation does (poster: the one that posted, for its HTTP status).
template <class Reply>
std::unique_ptr<Reply> ReadItemListReply(std::string_view bytes, std::string_view operation,
                                         const THTTPPost* poster = nullptr) {
    auto reply = std::make_unique<Reply>();
    Reply* r = reply.get();
    if (StreamItemListReply(bytes, operation, *r,
                            [r](size_t list, std::unique_ptr<xmlda::ItemValue> v) {
                                KeepInItemLists(*r, list, std::move(v));
                            }))
        return reply;
    reply = std::make_unique<Reply>();
    ReadXmlDaReply(bytes, operation, *reply, nullptr, poster);
    return reply;
}

}  // namespace velqor
