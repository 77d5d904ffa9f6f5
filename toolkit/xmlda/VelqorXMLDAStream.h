// Reading the replies that carry long item lists (Read, Subscribe, SubscriptionPolledRefresh)
// as a stream, without a DOM: each ItemValue is read on its own, handed over and dropped, so the
// memory a reply takes does not grow with its items beyond what the caller keeps.
//
// The streaming reader takes on every reply the DOM reader reads: one envelope, one body, the
// reply element with its records, texts and values of any shape (arrays, nil values, base64,
// dates, durations, error texts). Each value element is kept whole while it is read and goes
// through the DOM reader's own value and storing rules, so both readers give the same records.
// What it leaves to the DOM reader, which then decides what the reply says: a fault, a reply to
// another operation, field names in other letter cases, a field the storing rules refuse, a
// document the parser refuses, and texts beside child elements that the DOM loader may have
// trimmed (TValueTree).
//
//   auto reply = ReadItemListReply<xmlda::SubscriptionPolledRefreshResponse>(
//       response, "SubscriptionPolledRefresh", poster,
//       [&](size_t list, std::unique_ptr<TRemotable> entry) { ... }, [&] { /* start again */ });
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string_view>

#include "soap/VelqorSOAPRemotable.h"
#include "xmlda/OpcXmlDa.h"
#include "xmlda/VelqorSOAPCall.h"

namespace velqor {

// Receives each entry of the Items of the reply's item lists (list: index in RItemList), in
// order: an ItemValue, or for Subscribe a SubscribeItemValue.
using TItemSink = std::function<void(size_t list, std::unique_ptr<TRemotable> entry)>;

// Reads a reply to `operation` from its bytes: every part except the Items of RItemList into
// reply (a new, empty reply record), the Items to onItem. False when the reply is not of the
// shape it takes on: reply and whatever onItem received are then to be discarded.
bool StreamItemListReply(std::string_view bytes, std::string_view operation, TRemotable& reply,
                         const TItemSink& onItem);

// Puts an entry back into the list it came from (what the DOM reader would have done).
void KeepInItemLists(TRemotable& reply, size_t list, std::unique_ptr<TRemotable> entry);

// The reply of an item-list operation, its Items handed to onItem: streamed when it can be,
// else read by the DOM reader, which raises for faults, non-envelopes and replies to other
// operations as CallXmlDaOperation does (poster: the one that posted, for its HTTP status).
// When the stream gives up part way, onRestart is called before the DOM reader's Items are
// handed over from the start. The reply keeps no Items.
template <class Reply>
std::unique_ptr<Reply> ReadItemListReply(std::string_view bytes, std::string_view operation,
                                         const THTTPPost* poster, const TItemSink& onItem,
                                         const std::function<void()>& onRestart) {
    auto reply = std::make_unique<Reply>();
    if (StreamItemListReply(bytes, operation, *reply, onItem)) return reply;
    onRestart();
    reply = std::make_unique<Reply>();
    ReadXmlDaReply(bytes, operation, *reply, nullptr, poster);
    for (size_t l = 0; l < reply->RItemList.size(); ++l) {
        if (!reply->RItemList[l]) continue;
        for (auto& entry : reply->RItemList[l]->Items)
            if (entry) onItem(l, std::move(entry));
        reply->RItemList[l]->Items.clear();
    }
    return reply;
}

// The same with the Items kept in their lists.
template <class Reply>
std::unique_ptr<Reply> ReadItemListReply(std::string_view bytes, std::string_view operation,
                                         const THTTPPost* poster = nullptr) {
    std::vector<std::pair<size_t, std::unique_ptr<TRemotable>>> items;
    auto reply = ReadItemListReply<Reply>(
        bytes, operation, poster,
        [&](size_t list, std::unique_ptr<TRemotable> entry) {
            items.emplace_back(list, std::move(entry));
        },
        [&] { items.clear(); });
    for (auto& [list, entry] : items) KeepInItemLists(*reply, list, std::move(entry));
    return reply;
}

}  // namespace velqor
