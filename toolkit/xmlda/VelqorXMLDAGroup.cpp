#include "xmlda/VelqorXMLDAGroup.h"

#include <algorithm>
#include <atomic>
#include <unordered_map>
#include <unordered_set>

#include "contract/VelqorError.h"
#include "contract/VelqorItemResults.h"
#include "soap/VelqorSOAPEncoding.h"

namespace velqor {

namespace {

std::atomic<int32_t> g_nextGroupIdentity{1};

int32_t NewGroupIdentity() {
    for (;;) {
        int32_t id = g_nextGroupIdentity.fetch_add(1);
        if (id > 0) return id;  // never 0 or -1, also after a wrap
        g_nextGroupIdentity.store(1);
    }
}

// "xsd:" and the XML Schema name of an item's requested type; "" when none is requested.
std::string ReqTypeOf(const TVelqorItemData& item) {
    return item.FRequestDatatype == 0 ? std::string()
                                      : VarTypeToXSDType("xsd", VARTYPE(item.FRequestDatatype));
}

// The items of a list by client handle, for mapping reply items back.
std::unordered_map<uint32_t, TVelqorItemData*> ByHandle(
    const std::vector<TVelqorItemData*>& items) {
    std::unordered_map<uint32_t, TVelqorItemData*> map;
    map.reserve(items.size());
    for (TVelqorItemData* i : items) map.emplace(i->ClientHandle(), i);
    return map;
}

TVelqorItemData* Named(const std::unordered_map<uint32_t, TVelqorItemData*>& map,
                       const std::string& text) {
    uint32_t h = 0;
    if (!ParseClientHandle(text, h)) return nullptr;
    auto it = map.find(h);
    return it == map.end() ? nullptr : it->second;
}

std::unique_ptr<xmlda::ItemValue> RequestItem(const TVelqorItemData& item) {
    auto v = std::make_unique<xmlda::ItemValue>();
    auto id = ItemIdentifierOf(item.FItemID);
    v->ItemPath = id->ItemPath;
    v->ItemName = id->ItemName;
    v->ClientItemHandle = ClientHandleText(item.ClientHandle());
    v->ReqType = ReqTypeOf(item);
    return v;
}

// Items of a request that the reply answered, by client handle; each answers once.
class TAnswered {
  public:
    explicit TAnswered(const std::vector<TVelqorItemData*>& sent) : byHandle_(ByHandle(sent)) {}
    // The item a reply item names, the first time it is named; nullptr for a handle not sent
    // or already answered.
    TVelqorItemData* Take(const std::string& handleText) {
        TVelqorItemData* item = Named(byHandle_, handleText);
        if (!item || !answered_.insert(item->ClientHandle()).second) return nullptr;
        return item;
    }
    bool Answered(const TVelqorItemData* item) const {
        return answered_.count(item->ClientHandle()) != 0;
    }

  private:
    std::unordered_map<uint32_t, TVelqorItemData*> byHandle_;
    std::unordered_set<uint32_t> answered_;
};

// The record of a message whose items were already updated: it only names the item.
ItemUpdate NamingOnly(const TVelqorItemData& item) {
    ItemUpdate u;
    u.ClientHandle = item.ClientHandle();
    return u;
}

// A property of a result list by its ID, skipping failed ones; nullptr when absent.
const TVelqorItemProperty* PropertyByID(const std::vector<TVelqorItemProperty>& list, int32_t id) {
    for (const auto& p : list)
        if (p.PropertyID == id && p.Error == 0) return &p;
    return nullptr;
}

// The EU type a euType property value stands for: its name, or the code the connection has
// already made of it.
int32_t EUTypeOfValue(const Variant& v) {
    if (v.IsString()) return EUTypeFromXmlName(v.RawString()).value_or(0);
    try {
        if (v.IsNumeric()) {
            int32_t n = v.AsInt32();
            return n == 1 || n == 2 ? n : 0;
        }
    } catch (const std::exception&) {
    }
    return 0;
}

}  // namespace

int32_t SubscriptionPingRateFor(int32_t updateRate, int32_t holdTime, int32_t waitTime) {
    const int64_t cycle =
        int64_t(std::max(updateRate, 0)) + std::max(holdTime, 0) + std::max(waitTime, 0);
    return int32_t(std::clamp<int64_t>(3 * cycle, kSubscriptionPingRate, INT32_MAX));
}

TVelqorXMLGroup::TVelqorXMLGroup(com::ComPtr<IVelqorDAConnection> connection)
    : TVelqorXMLDAComponent(std::move(connection)), serverHandle_(NewGroupIdentity()) {}

TVelqorXMLGroup::~TVelqorXMLGroup() {
    *self_ = nullptr;
    EndRecovery(true);
    DropPollThread();
}

// ---- items ---------------------------------------------------------------------------------

std::vector<TVelqorItemData*> TVelqorXMLGroup::LiveItems() {
    std::vector<TVelqorItemData*> live;
    live.reserve(items_.size());
    size_t kept = 0;
    for (uint32_t h : items_) {
        TVelqorItemData* item = FindItemByClientHandle(h);
        if (!item) continue;  // destroyed without being removed: forgotten
        live.push_back(item);
        items_[kept++] = h;
    }
    items_.resize(kept);
    return live;
}

void TVelqorXMLGroup::RecountActive() {
    int32_t n = 0;
    for (TVelqorItemData* item : LiveItems())
        if (item->FIsActive) ++n;
    activeItemCount_ = n;
}

// ---- poll thread ---------------------------------------------------------------------------

void TVelqorXMLGroup::SyncWithPoll() {
    if (!poll_ || !poll_->Ended()) return;
    const bool current = poll_->ServerSubHandle() == serverSubHandle_ && !serverSubHandle_.empty();
    const TVelqorPollRefresh::TOutcome outcome = poll_->Outcome();
    if (outcome == TVelqorPollRefresh::TOutcome::InvalidHandle && current) {
        active_ = false;
        serverSubHandle_.clear();
    }
    if (outcome == TVelqorPollRefresh::TOutcome::Interrupted && current) {
        const std::string reason = poll_->Reason();
        const int32_t error = poll_->LossError();
        // A subscription that worked, or a service that answered, is tried again soon; one
        // that failed at once waits longer each time.
        const bool fresh = poll_->HadGoodPoll() || error == kXmlDaInvalidHandle;
        poll_->Join();
        poll_.reset();
        serverSubHandle_.clear();
        BeginRecovery(reason, error, fresh);
        return;
    }
    poll_->Join();  // ended: at once; its last message stays valid
}

void TVelqorXMLGroup::DropPollThread() {
    if (!poll_) return;
    poll_->Discard();
    poll_.reset();
}

bool TVelqorXMLGroup::Active() {
    SyncWithPoll();
    return active_;
}

const std::string& TVelqorXMLGroup::ServerSubHandle() {
    SyncWithPoll();
    return serverSubHandle_;
}

// ---- subscription --------------------------------------------------------------------------

bool TVelqorXMLGroup::Subscribe(bool recovering) {
    RecountActive();
    if (!subscribeWanted_ || activeItemCount_ == 0) return true;

    auto request = std::make_unique<xmlda::Subscribe>();
    request->Options = std::make_unique<xmlda::RequestOptions>();
    request->Options->ReturnErrorText = false;
    request->Options->ReturnDiagnosticInfo = false;
    request->Options->ReturnItemTime = true;
    request->Options->ReturnItemName = false;
    request->Options->ReturnItemPath = false;
    request->Options->ClientRequestHandle = RequestHandle();
    request->Options->LocaleID = std::string(Connection().LocaleText());
    request->ReturnValuesOnReply = true;
    request->SubscriptionPingRate = SubscriptionPingRateFor(updateRate_, holdTime_, waitTime_);
    auto list = std::make_unique<xmlda::SubscribeRequestItemList>();
    list->Deadband = deadBand_;
    list->RequestedSamplingRate = updateRate_;
    list->EnableBuffering = false;

    const std::vector<TVelqorItemData*> all = LiveItems();
    std::vector<TVelqorItemData*> subscribed;
    for (TVelqorItemData* item : all) {
        item->FServerHandle = serverHandle_;
        if (!item->FIsActive) continue;
        subscribed.push_back(item);
        auto ri = std::make_unique<xmlda::SubscribeRequestItem>();
        auto id = ItemIdentifierOf(item->FItemID);
        ri->ItemPath = id->ItemPath;
        ri->ItemName = id->ItemName;
        ri->ClientItemHandle = ClientHandleText(item->ClientHandle());
        ri->ReqType = ReqTypeOf(*item);
        list->Items.push_back(std::move(ri));
    }
    request->ItemList.push_back(std::move(list));

    // The first list's items are taken as they are read, so a large reply is never held whole;
    // the texts of refused items wait for the reply's Errors, which come after the lists.
    bool ok = true;
    TAnswered answered(subscribed);
    std::vector<std::pair<TVelqorItemData*, ItemUpdate>> results;
    std::vector<std::pair<size_t, std::string>> refused;  // index in results, ResultID
    auto take = [&](size_t listIndex, std::unique_ptr<TRemotable> entry) {
        auto& siv = static_cast<xmlda::SubscribeItemValue&>(*entry);
        if (listIndex != 0 || !siv.ItemValue) return;
        // Room for every answer once the reply comes: not beside the request's records and text.
        if (results.empty()) results.reserve(subscribed.size());
        const xmlda::ItemValue& v = *siv.ItemValue;
        TVelqorItemData* item = answered.Take(v.ClientItemHandle);
        if (!item) return;  // a handle this request did not send
        if (!v.ResultID.empty()) {
            // A refused item keeps no value and is not good.
            refused.emplace_back(results.size(), v.ResultID);
            results.emplace_back(item, ItemUpdate());
            ok = false;
            return;
        }
        ItemUpdate u = UpdateFromItemValue(item->ClientHandle(), v);
        u.Fields |= ItemUpdate::kCountUpdate;
        if (u.Fields & ItemUpdate::kError) ok = false;  // a value that is no good value
        results.emplace_back(item, std::move(u));
    };
    auto restart = [&] {
        ok = true;
        answered = TAnswered(subscribed);
        results.clear();
        refused.clear();
    };
    // The request's records go as soon as its text is written, before the reply is read.
    auto reply = Connection().CallStreamed(std::move(request), recovering, take, restart);
    if (!reply || reply->RItemList.empty() || !reply->RItemList.front() || !reply->SubscribeResult)
        throw EOPCServerException(MsgText(Msg::WrongResultSubscribe));
    for (const auto& [at, id] : refused)
        results[at].second = FailureUpdate(ResultCodeFromID(id), ResultDetail(id, reply->Errors));
    // A subscription the service accepted items into must have a handle to poll it by.
    const bool anyAccepted = std::any_of(results.begin(), results.end(), [](const auto& r) {
        return !(r.second.Fields & ItemUpdate::kError);
    });
    if (reply->ServerSubHandle.empty() && anyAccepted)
        throw EOPCServerException(MsgText(Msg::WrongResultSubscribe));
    Connection().UpdateClock(reply->SubscribeResult.get());
    serverSubHandle_ = reply->ServerSubHandle;

    auto changed = std::make_unique<ItemUpdatesPayload>();
    changed->Items.reserve(results.size());
    for (auto& [item, u] : results) {
        item->ApplyUpdate(u);
        if (u.Fields & ItemUpdate::kError) continue;  // failed items are not data changes
        if (recovering) item->ApplyUpdate(ItemUpdate::OperationResult(0));  // the loss is over
        changed->Items.push_back(NamingOnly(*item));
    }
    TItemResults unanswered;
    for (TVelqorItemData* item : subscribed)
        if (!answered.Answered(item)) unanswered.Unanswered(*item, false);
    if (!unanswered.AllSucceeded()) ok = false;
    const NotifyWindow& window = Connection().NotifyWindow();
    if (!changed->Items.empty() && window)
        window->Post(WM_VELQOR_DATACHANGE, uintptr_t(clientHandle_), std::move(changed));

    // Nothing to poll when the service subscribed none of the items.
    DropPollThread();
    if (!XMLDADesignMode() && !serverSubHandle_.empty()) {
        TPollSnapshot snap;
        snap.Settings = Connection().SnapshotCallSettings();
        snap.Window = window;
        snap.GroupClientHandle = uintptr_t(clientHandle_);
        snap.ServerSubHandle = serverSubHandle_;
        snap.UpdateRate = updateRate_;
        snap.HoldTime = holdTime_;
        snap.WaitTime = waitTime_;
        if (Connection().LocalTimeAtFirstReply() != 0)
            snap.ClockOffset =
                Connection().ServerTimeAtFirstReply() - Connection().LocalTimeAtFirstReply();
        snap.Subscribed.reserve(subscribed.size());
        for (TVelqorItemData* item : subscribed) snap.Subscribed.push_back(item->ClientHandle());
        snap.AllItems = items_;
        if (policy_.Enabled && window) {
            snap.Recover = true;
            EventLoop* loop = &window->Loop();
            snap.OnInterrupted = [loop, self = self_] {
                loop->Post([self] {
                    if (*self) (*self)->SyncWithPoll();
                });
            };
        }
        poll_ = std::make_unique<TVelqorPollRefresh>(std::move(snap));
    }
    return ok;
}

bool TVelqorXMLGroup::Resubscribe() {
    if (recovering_ || !active_) return true;
    return Subscribe();
}

void TVelqorXMLGroup::CancelSubscription() {
    if (!subscribeWanted_ || !active_ || serverSubHandle_.empty()) return;
    if (poll_) {
        poll_->StopPolling();
        poll_->Join();
        poll_.reset();
    }
    xmlda::SubscriptionCancel request;
    request.ServerSubHandle = serverSubHandle_;
    serverSubHandle_.clear();
    Connection().Call(request);  // the reply says nothing more
}

// ---- IVelqorGroup --------------------------------------------------------------------------

void TVelqorXMLGroup::Create(int32_t& serverHandle, const std::string& name, int32_t clientHandle,
                             bool active, float deadBand, int32_t timeBias, int32_t localeId,
                             int32_t& updateRate, bool subscribe, int32_t holdTime,
                             int32_t waitTime) {
    EndRecovery(true);
    DropPollThread();
    name_ = name;
    clientHandle_ = clientHandle;
    active_ = active;
    deadBand_ = deadBand;
    timeBias_ = timeBias;
    localeId_ = localeId;
    updateRate_ = updateRate;
    subscribeWanted_ = subscribe;
    holdTime_ = holdTime;
    waitTime_ = waitTime;
    serverHandle = serverHandle_;
    items_.clear();
    serverSubHandle_.clear();
    activeItemCount_ = 0;
}

void TVelqorXMLGroup::Remove(bool serverShutDown, int32_t& serverHandle) {
    SyncWithPoll();
    if (serverHandle_ == -1) return;
    EndRecovery(true);
    serverHandle = serverHandle_ = -1;
    clientHandle_ = -1;
    struct Drop {  // the items and the thread go also when the cancel fails
        TVelqorXMLGroup& g;
        ~Drop() {
            g.DropPollThread();
            g.serverSubHandle_.clear();
            g.items_.clear();
            g.activeItemCount_ = 0;
        }
    } drop{*this};
    if (!serverShutDown) CancelSubscription();
}

void TVelqorXMLGroup::SetName(const std::string& name) { name_ = name; }
void TVelqorXMLGroup::Cancel() {}  // reads and writes are answered at once: nothing is pending
bool TVelqorXMLGroup::SetDatatypes(TVelqorItemList&) { return true; }  // asked with each request
void TVelqorXMLGroup::Reserved() {}

void TVelqorXMLGroup::GetState(tVelqorGroupStateRec& state) {
    SyncWithPoll();
    state.UpdateRate = updateRate_;
    state.Active = active_;
    state.Name = name_;
    state.TimeBias = timeBias_;
    state.DeadBand = deadBand_;
    state.LocaleId = localeId_;
    state.ClientHandle = reportedClientHandle_;
    state.ServerHandle = serverHandle_;
    state.HoldTime = holdTime_;
    state.WaitTime = waitTime_;
}

void TVelqorXMLGroup::SetState(int32_t& updateRate, bool active, int32_t timeBias, float deadBand,
                               int32_t localeId, int32_t clientHandle, int32_t holdTime,
                               int32_t waitTime) {
    SyncWithPoll();
    CancelSubscription();  // with the old settings
    updateRate_ = updateRate;
    active_ = active;
    timeBias_ = timeBias;
    deadBand_ = deadBand;
    localeId_ = localeId;
    reportedClientHandle_ = clientHandle;
    holdTime_ = holdTime;
    waitTime_ = waitTime;
    if (!active_) EndRecovery(true);
    Resubscribe();
}

void TVelqorXMLGroup::Refresh(bool /*fromCache*/) {
    SyncWithPoll();
    CancelSubscription();
    Resubscribe();  // the new subscription returns the current values
}

bool TVelqorXMLGroup::AddItems(TVelqorItemList& items, bool /*add*/) {
    SyncWithPoll();
    for (TVelqorItemData* item : items) {
        if (item->FServerHandle != -1)
            throw EOPCItemException(MsgFormat(Msg::ItemExists, item->FItemID));
        items_.push_back(item->ClientHandle());
        item->FServerHandle = serverHandle_;
        if (item->FIsActive) ++activeItemCount_;
    }
    CancelSubscription();
    return Resubscribe();
}

bool TVelqorXMLGroup::RemoveItems(bool serverShutDown, TVelqorItemList& items) {
    SyncWithPoll();
    const std::unordered_set<uint32_t> members(items_.begin(), items_.end());
    std::unordered_set<uint32_t> gone;
    bool activeWent = false;
    for (TVelqorItemData* item : items) {
        // Items of no group or of another group are left alone.
        if (!members.count(item->ClientHandle()) || gone.count(item->ClientHandle())) continue;
        if (item->FIsActive) activeWent = true;
        gone.insert(item->ClientHandle());
        item->FServerHandle = -1;
    }
    items_.erase(std::remove_if(items_.begin(), items_.end(),
                                [&](uint32_t h) { return gone.count(h) != 0; }),
                 items_.end());
    RecountActive();
    if (!activeWent || serverShutDown) return true;
    CancelSubscription();
    Resubscribe();
    return true;
}

bool TVelqorXMLGroup::SetActiveState(TVelqorItemList& items, bool active) {
    SyncWithPoll();
    const std::unordered_set<uint32_t> members(items_.begin(), items_.end());
    for (TVelqorItemData* item : items) {
        if (!members.count(item->ClientHandle()))
            throw EOPCItemException(MsgText(Msg::ItemNotInList));
        item->FIsActive = active;
    }
    RecountActive();
    CancelSubscription();
    Resubscribe();
    return true;
}

// ---- reads and writes ----------------------------------------------------------------------

bool TVelqorXMLGroup::ReadSync(TVelqorItemList& items, bool /*fromCache*/) { return Read(items); }
bool TVelqorXMLGroup::ReadAsync(TVelqorItemList& items) { return Read(items); }
bool TVelqorXMLGroup::WriteSync(TVelqorItemList& items) { return Write(items); }

bool TVelqorXMLGroup::WriteAsync(TVelqorItemList& items) {
    const bool ok = Write(items);
    std::vector<ItemUpdate> outcome;
    for (TVelqorItemData* item : items) {
        ItemUpdate& u =
            outcome.emplace_back(ItemUpdate::OperationResult(item->Error(), item->ErrorDetail()));
        u.ClientHandle = item->ClientHandle();
    }
    PostWriteOutcome(Connection().NotifyWindow(), std::move(outcome));
    return ok;
}

std::unique_ptr<xmlda::RequestOptions> TVelqorXMLGroup::ItemRequestOptions() const {
    auto options = std::make_unique<xmlda::RequestOptions>();
    options->ReturnErrorText = true;
    options->ReturnItemTime = true;
    options->ClientRequestHandle = RequestHandle();
    return options;
}

bool TVelqorXMLGroup::Read(TVelqorItemList& items) {
    if (items.Empty()) return true;
    xmlda::Read request;
    request.Options = ItemRequestOptions();
    auto list = std::make_unique<xmlda::ReadRequestItemList>();
    std::vector<TVelqorItemData*> sent(items.begin(), items.end());
    for (TVelqorItemData* item : sent) list->Items.push_back(RequestItem(*item));
    request.ItemList.push_back(std::move(list));

    auto reply = Connection().CallStreamed(request);
    TAnswered answered(sent);
    TItemResults results;
    if (reply && !reply->RItemList.empty() && reply->RItemList.front()) {
        for (const auto& v : reply->RItemList.front()->Items) {
            TVelqorItemData* item = v ? answered.Take(v->ClientItemHandle) : nullptr;
            if (!item) continue;
            const int32_t code = v->ResultID.empty() ? 0 : ResultCodeFromID(v->ResultID);
            if (code < 0) {
                results.Failed(*item, code, ResultDetail(v->ResultID, reply->Errors));
                continue;
            }
            // A value that could not be read, or none, fails; a success code (S_CLAMP) is a
            // note beside the value.
            ItemUpdate u = UpdateFromItemValue(item->ClientHandle(), *v);
            const bool read = !(u.Fields & ItemUpdate::kError);
            results.Read(*item, std::move(u));
            if (read && code > 0)
                item->ApplyUpdate(
                    ItemUpdate::OperationResult(code, ResultDetail(v->ResultID, reply->Errors)));
        }
    }
    // An item the reply did not answer is not good, whatever it held before.
    for (TVelqorItemData* item : sent)
        if (!answered.Answered(item)) results.Unanswered(*item, true);
    return results.AllSucceeded();
}

bool TVelqorXMLGroup::Write(TVelqorItemList& items) {
    if (items.Empty()) return true;
    xmlda::Write request;
    request.Options = ItemRequestOptions();
    request.ReturnValuesOnReply = true;
    auto list = std::make_unique<xmlda::WriteRequestItemList>();
    TItemResults results;
    std::vector<TVelqorItemData*> sent;
    for (TVelqorItemData* item : items) {
        auto v = RequestItem(*item);
        if (item->FRequestDatatype != 0 && !item->WriteValue().IsEmpty()) {
            try {
                v->Value = item->WriteValue().ChangeType(VARTYPE(item->FRequestDatatype));
            } catch (const std::exception&) {
                // Not sent: the service would get a value the item did not ask for.
                results.Failed(*item, kXmlDaBadType, {}, false);
                continue;
            }
        } else {
            v->Value = item->WriteValue();
        }
        sent.push_back(item);
        list->Items.push_back(std::move(v));
    }
    if (sent.empty()) return results.AllSucceeded();
    request.ItemList.push_back(std::move(list));

    auto reply = Connection().Call(request);
    TAnswered answered(sent);
    if (reply && !reply->RItemList.empty() && reply->RItemList.front()) {
        for (const auto& v : reply->RItemList.front()->Items) {
            TVelqorItemData* item = v ? answered.Take(v->ClientItemHandle) : nullptr;
            if (!item) continue;
            const int32_t code = ResultCodeFromID(v->ResultID);
            if (v->ResultID.empty() || code == OPC_E_WRITEONLY) {
                ItemUpdate u = UpdateFromItemValue(item->ClientHandle(), *v);
                if (v->Value.IsEmpty() || !v->ValueError.empty()) {
                    // Nothing usable echoed back: the written value stands, with the quality
                    // the service gave.
                    u.Fields &= ~uint32_t(ItemUpdate::kLearnCanonical);
                    u.Value = item->WriteValue();
                    u.Quality = QualityOf(v->Quality.get());
                }
                u.Fields |= ItemUpdate::kError;
                u.Error = item->WriteValue().IsEmpty() ? kXmlDaBadType : 0;
                u.ErrorDetail.clear();
                item->ApplyUpdate(u);
            } else {
                results.Failed(*item, ResultCodeFromID(v->ResultID),
                               ResultDetail(v->ResultID, reply->Errors), false);
            }
        }
    }
    // An item the reply did not answer was not written, as far as anyone can tell.
    for (TVelqorItemData* item : sent)
        if (!answered.Answered(item)) results.Unanswered(*item, false);
    return results.AllSucceeded();
}

// ---- engineering units ---------------------------------------------------------------------

bool TVelqorXMLGroup::GetItemAttributes(TVelqorItemList& items) {
    if (items.Empty()) return false;
    enum : int32_t { kEUType = 7, kEUInfo = 8, kHighEU = 102, kLowEU = 103 };
    std::vector<TVelqorItemPropertyQuery> queries;
    queries.reserve(size_t(items.Count()));
    for (TVelqorItemData* item : items) queries.push_back({item->FItemID, {}});
    const std::vector<std::string> ids = {"7", "8", "103", "102"};
    if (!Connection().GetItemProperties(queries, ids, true, false)) return false;

    for (int i = 0; i < items.Count(); ++i) {
        TVelqorItemData& item = *items[i];
        const auto& props = queries[size_t(i)].Properties;
        const TVelqorItemProperty* type = PropertyByID(props, kEUType);
        const int32_t euType = type ? EUTypeOfValue(type->Value) : 0;
        item.FEUType = euType;
        if (euType == 1) {
            const TVelqorItemProperty* low = PropertyByID(props, kLowEU);
            const TVelqorItemProperty* high = PropertyByID(props, kHighEU);
            if (low && high) {
                try {
                    item.SetEUInfo(Variant::Array(VT_R8, {Variant::R8(low->Value.AsDouble()),
                                                          Variant::R8(high->Value.AsDouble())}));
                } catch (const std::exception&) {
                    // a range that is not numeric leaves the information as it was
                }
            }
        } else if (euType == 2) {
            if (const TVelqorItemProperty* info = PropertyByID(props, kEUInfo))
                item.SetEUInfo(info->Value);
        }
    }
    return true;
}

}  // namespace velqor
