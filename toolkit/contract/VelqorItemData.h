// What transports read and write of items and browse results: the item's data fields, the
// non-owning item list, the process-unique client handles, the item updates that travel inside
// messages, and the browse entries.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "contract/EventLoop.h"
#include "contract/Variant.h"
#include "contract/VelqorIntf.h"

namespace velqor {

// One item's new state as a transport decoded it, or the outcome of one operation on it. Only
// the fields named in Fields are stored; the others keep what the item had.
struct ItemUpdate {
    enum Field : uint32_t {
        kValue = 1,
        kQuality = 2,
        kTimeStamp = 4,
        kError = 8,
        kCountUpdate = 16,  // a data change: the update counter counts
        // The value was received from the server: 8-bit text is stored as wide text, and its
        // type becomes the canonical type when none is requested and none is known yet.
        // Without it the value is stored as it is (a written value echoed back).
        kLearnCanonical = 32,
    };
    uint32_t ClientHandle = 0;  // the item it is for, when it travels in a message
    uint32_t Fields = 0;
    int32_t Quality = 0;
    int32_t Error = 0;
    Variant Value;
    double TimeStamp = 0;
    // What the server said about that result when the code alone cannot say it (a result name
    // the table does not know, with the server's text; a value that could not be read); stored
    // with Error.
    std::string ErrorDetail;

    // The result code of an operation that says nothing about the item's data.
    static ItemUpdate OperationResult(int32_t error, std::string detail = {}) {
        ItemUpdate u;
        u.Fields = kError;
        u.Error = error;
        u.ErrorDetail = std::move(detail);
        return u;
    }
};

// The data fields of an item. The configuration fields (identifier, access path, active flag,
// requested type, write value) are set by the component model; the results of adding an item
// (server handle, access rights, canonical type) and the engineering units by the transport.
// What the server says about the item's data (value, quality, timestamp, result of the last
// operation, update counter) is stored only through ApplyUpdate, on the owning thread:
// transports apply synchronous results themselves, and values from other threads travel in
// ItemUpdatesPayload and are applied by the component.
class TVelqorItemData {
  public:
    TVelqorItemData();
    virtual ~TVelqorItemData();
    TVelqorItemData(const TVelqorItemData&) = delete;
    TVelqorItemData& operator=(const TVelqorItemData&) = delete;

    // The small fields first and side by side: an item is held per subscribed item, and
    // padding between mixed sizes would cost each one.
    bool FIsActive = true;
    int32_t FEUType = -1;            // -1 not yet known, 0 none, 1 analog, 2 enumerated
    int32_t FCanonicalDatatype = 0;  // variant type number reported by the server
    int32_t FServerHandle = -1;      // -1: not added to the server
    int32_t FRequestedDatatype = 0;  // requested data type as set
    int32_t FRequestDatatype = 0;    // the type sent to the server (masked with 0x7F)
    int32_t FAccessRights = 0;       // 1 readable, 2 writable
    int32_t FWriteQuality = -1;      // sent with the next write when not negative
    std::string FItemID;
    std::string FAccessPath;
    void* FUserData = nullptr;
    double FWriteTimeStamp = -1.0;  // sent with the next write when > 0

    // The process-unique 32-bit handle that transports give the server for this item; never
    // reused while the item lives.
    uint32_t ClientHandle() const { return clientHandle_; }

    const std::string& ItemID() const { return FItemID; }
    const std::string& AccessPath() const { return FAccessPath; }
    bool IsActive() const { return FIsActive; }
    int32_t ServerHandle() const { return FServerHandle; }
    int32_t CanonicalDatatype() const { return FCanonicalDatatype; }
    const Variant& Value() const { return value_; }
    int32_t Quality() const { return quality_; }
    double TimeStamp() const { return timeStamp_; }  // local date-time
    int32_t Error() const { return error_; }         // result of the last operation (0 = ok)
    const std::string& ErrorDetail() const;          // see ItemUpdate
    // What the next write sends; empty until set.
    const Variant& WriteValue() const;
    void SetWriteValue(const Variant& v);
    // The engineering-unit information as the server gave it; null until then.
    const Variant& KnownEUInfo() const;
    void SetEUInfo(const Variant& v);
    int32_t UpdateCount() const { return updateCount_; }
    bool IsGood() const { return IsGoodQuality(quality_); }

    // Stores the fields that the update names (see ItemUpdate). The update counter counts up
    // to 0x7FFFFFFE; the next count after it is 1.
    void ApplyUpdate(const ItemUpdate& u) {
        if (u.Fields & ItemUpdate::kValue) {
            const bool received = (u.Fields & ItemUpdate::kLearnCanonical) != 0;
            if (received && u.Value.Type() == VT_STRING) {
                value_ = Variant::Str(u.Value.RawString());  // 8-bit text is kept as wide text
            } else {
                value_ = u.Value;
            }
            if (received && FRequestDatatype == 0 && FCanonicalDatatype == 0)
                FCanonicalDatatype = value_.Type();
        }
        if (u.Fields & ItemUpdate::kQuality) quality_ = u.Quality;
        if (u.Fields & ItemUpdate::kTimeStamp) timeStamp_ = u.TimeStamp;
        if (u.Fields & ItemUpdate::kError) {
            error_ = u.Error;
            SetErrorDetail(u.ErrorDetail);
        }
        if (u.Fields & ItemUpdate::kCountUpdate)
            updateCount_ = updateCount_ >= 0x7FFFFFFE ? 1 : updateCount_ + 1;
    }
    // Starts the update counter again, from 0 or from a given count.
    void ResetUpdateCount(int32_t count = 0) { updateCount_ = count; }

    // Text of the item's error: its detail when there is one, else the result table's message;
    // the component model words codes through its connection.
    virtual std::string ErrorText() const;

  private:
    void SetErrorDetail(const std::string& detail);

    uint32_t clientHandle_;
    int32_t quality_ = 0;
    int32_t error_ = 0;
    int32_t updateCount_ = 0;
    Variant value_;
    double timeStamp_ = 0;
    // Held apart, none until there is one: most items never have an error detail, a value to
    // write or engineering-unit information, and an item is kept per subscribed item.
    std::unique_ptr<std::string> errorDetail_;
    std::unique_ptr<Variant> writeValue_, euInfo_;
};

// The item with that client handle, or nullptr (items are looked up on the owning thread).
TVelqorItemData* FindItemByClientHandle(uint32_t handle);

// An ordered list of item references; it never owns the items.
class TVelqorItemList {
  public:
    TVelqorItemList() = default;
    explicit TVelqorItemList(TVelqorItemData* single) { items_.push_back(single); }
    template <class It>
    TVelqorItemList(It first, It last) : items_(first, last) {}

    int Count() const { return int(items_.size()); }
    TVelqorItemData* Items(int index) const { return items_.at(size_t(index)); }
    TVelqorItemData* operator[](int index) const { return items_[size_t(index)]; }
    void Add(TVelqorItemData* item) { items_.push_back(item); }
    void Clear() { items_.clear(); }
    bool Empty() const { return items_.empty(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

    // The collected failure report: Caption CR LF, then up to 26 lines "<ItemID>- <ErrorText>"
    // CR LF. Nothing happens without failures; otherwise raises EOPCItemException (RaiseIt) or
    // shows the text through the application's message display.
    void Report(const std::string& caption, bool raiseIt) const;
    // The report text, or "" when no item failed.
    std::string ReportText(const std::string& caption) const;
    // Raises EOPCServerException "Item %s not exists on OPC server" for the first item without
    // a server handle.
    void CheckAllAdded() const;

  private:
    std::vector<TVelqorItemData*> items_;
};

// The module-wide switch for "OPC Command:" and "Cannot add Items:" reports (off by default).
bool RaiseItemErrors();
void SetRaiseItemErrors(bool on);

// Payload of the data-change, write-error and write-complete messages. The component applies
// the updates to the items that still exist, then raises its events with the list of them.
struct ItemUpdatesPayload : MessagePayload {
    std::vector<ItemUpdate> Items;
    // The subscription behind the group is gone for good: the group's Active flag is cleared.
    bool SubscriptionInvalid = false;
    // The subscription was lost and is being made again (the items say why), or it was made
    // again: news for the application, with the reason of a loss.
    bool SubscriptionInterrupted = false;
    bool SubscriptionRecovered = false;
    // The server has not answered a poll for longer than it should (polling goes on waiting),
    // or it answers again after that: news for the application, with the reason of the first.
    bool ServerSilent = false;
    bool ServerAnswers = false;
    std::string SubscriptionReason;
    // Set by the producer when it was stopped; a cancelled payload changes nothing.
    std::shared_ptr<const std::atomic<bool>> Cancelled;
};

// Payload of the shutdown message: the server's reason.
struct ShutdownPayload : MessagePayload {
    explicit ShutdownPayload(std::string reason) : Reason(std::move(reason)) {}
    std::string Reason;
};

// One entry of the address space.
struct TVelqorBrowseItem {
    std::string Name;      // text to show
    std::string ItemName;  // item identifier (fully qualified for COM)
    std::string ItemPath;  // XML-DA item path, empty for COM
    bool IsItem = false;
    bool IsBranch = false;
    bool HasChildren = false;

    void Assign(const TVelqorBrowseItem& o) { *this = o; }
    std::string CombinedID() const { return CombineItemID(ItemPath, ItemName); }
};

// An ordered list that owns its browse entries.
class TVelqorBrowseItems {
  public:
    int Count() const { return int(items_.size()); }
    TVelqorBrowseItem* Items(int index) const { return items_.at(size_t(index)).get(); }
    TVelqorBrowseItem* Add() {
        items_.push_back(std::make_unique<TVelqorBrowseItem>());
        return items_.back().get();
    }
    TVelqorBrowseItem* Add(TVelqorBrowseItem item) {
        items_.push_back(std::make_unique<TVelqorBrowseItem>(std::move(item)));
        return items_.back().get();
    }
    void Clear() { items_.clear(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

  private:
    std::vector<std::unique_ptr<TVelqorBrowseItem>> items_;
};

// One item of a property query with the list that receives its properties.
struct TVelqorItemPropertyQuery {
    std::string ItemID;
    std::vector<TVelqorItemProperty> Properties;
};

}  // namespace velqor
