#include <algorithm>
#include <atomic>
#include <cmath>

#include "contract/VelqorTexts.h"
#include "model/Velqor.h"

namespace velqor {

namespace {
std::atomic<uint64_t> g_nextSerial{1};

}  // namespace

// ---- TVelqorNamedEvent ---------------------------------------------------------------------

TVelqorNamedEvent::TVelqorNamedEvent() : name_(std::to_string(g_nextSerial.fetch_add(1))) {}

void TVelqorNamedEvent::Set() {
    {
        std::lock_guard lock(mu_);
        signalled_ = true;
    }
    cv_.notify_all();
}

void TVelqorNamedEvent::Reset() {
    std::lock_guard lock(mu_);
    signalled_ = false;
}

void TVelqorNamedEvent::Pulse() {
    {
        std::lock_guard lock(mu_);
        ++pulses_;
        signalled_ = false;
    }
    cv_.notify_all();
}

bool TVelqorNamedEvent::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mu_);
    uint64_t seen = pulses_;
    return cv_.wait_for(lock, timeout, [&] { return signalled_ || pulses_ != seen; });
}

bool TVelqorNamedEvent::IsSet() const {
    std::lock_guard lock(mu_);
    return signalled_;
}

// ---- TVelqorGroup --------------------------------------------------------------------------

TVelqorGroup::TVelqorGroup(TVelqorGroups& owner, int32_t id)
    : owner_(owner), id_(id), serial_(g_nextSerial.fetch_add(1)) {
    const TVelqorDefaultGroup& d = owner.Owner()->OPCGroupDefault();
    isActive_ = d.IsActive;
    updateRate_ = std::max(d.UpdateRate, kMinUpdateRateMs);
    deadBand_ = d.DeadBand;
    localeId_ = d.LocaleId;
    timeBias_ = d.TimeBias;
    subscribe_ = d.Subscribe;
    resubscribe_ = d.Resubscribe;
    // Not yet in the collection: its count is this group's index.
    name_ = "TVelqorGroup" + std::to_string(owner.Count());
    items_ = owner.Owner()->ItemsClass()(*this);
}

TVelqorGroup::~TVelqorGroup() {
    if (transport_) {
        try {
            RemoveFromServer();
        } catch (const std::exception& e) {
            ApplicationHooks::ShowException(e);
        }
    }
    items_.reset();
}

TVelqorServer& TVelqorGroup::Server() const { return *owner_.Owner(); }

int TVelqorGroup::Index() const { return owner_.IndexOf(this); }

std::string TVelqorGroup::DisplayName() const { return IsBlank(name_) ? "TVelqorGroup" : name_; }

void TVelqorGroup::SetName(const std::string& name) {
    if (name == name_) return;
    if (transport_) transport_->SetName(name);
    name_ = name;
}

TVelqorGroup::Settings TVelqorGroup::Current() const {
    return Settings{updateRate_, isActive_, timeBias_, deadBand_, localeId_, holdTime_, waitTime_};
}

int32_t TVelqorGroup::SendState(Settings s) {
    if (transport_ && !Server().ServerGone())
        transport_->SetState(s.updateRate, s.active, s.timeBias, s.deadBand, s.localeId, id_,
                             s.holdTime, s.waitTime);
    return std::max(s.updateRate, kMinUpdateRateMs);  // a server may revise it to anything
}

void TVelqorGroup::SetIsActive(bool on) {
    if (on == isActive_) return;
    Settings s = Current();
    s.active = on;
    SendState(s);
    isActive_ = on;
}

void TVelqorGroup::SetUpdateRate(int32_t ms) {
    ms = std::max(ms, kMinUpdateRateMs);
    if (ms == updateRate_) return;
    Settings s = Current();
    s.updateRate = ms;
    updateRate_ = SendState(s);
}

void TVelqorGroup::SetDeadBand(float percent) {
    if (std::isnan(percent) || percent == deadBand_) return;
    percent = std::clamp(percent, 0.0f, 100.0f);
    Settings s = Current();
    s.deadBand = percent;
    SendState(s);
    deadBand_ = percent;
}

void TVelqorGroup::SetLocaleId(int32_t id) {
    if (id == localeId_) return;
    Settings s = Current();
    s.localeId = id;
    SendState(s);
    localeId_ = id;
}

void TVelqorGroup::SetTimeBias(int32_t minutes) {
    if (minutes == timeBias_) return;
    Settings s = Current();
    s.timeBias = minutes;
    SendState(s);
    timeBias_ = minutes;
}

void TVelqorGroup::SetXMLHoldtime(int32_t ms) {
    if (ms == holdTime_) return;
    holdTime_ = ms;
    SendState(Current());
}

void TVelqorGroup::SetXMLWaittime(int32_t ms) {
    if (ms == waitTime_) return;
    waitTime_ = ms;
    SendState(Current());
}

void TVelqorGroup::SetResubscribe(const TVelqorResubscribe& policy) {
    resubscribe_ = policy;
    if (!transport_) return;
    if (auto recovery = transport_.TryAs<IVelqorGroupRecovery>()) recovery->SetResubscribe(policy);
}

void TVelqorGroup::GetGroupState(tVelqorGroupStateRec& state) {
    if (transport_) transport_->GetState(state);
}

void TVelqorGroup::PulseEvent() {
    if (event_) event_->Pulse();
}

void TVelqorGroup::CreateOnServer() {
    event_.reset();
    com::ComPtr<IVelqorGroup> group = Server().CreateGroupObject();
    int32_t handle = -1;
    int32_t rate = updateRate_;
    group->Create(handle, name_, id_, isActive_, deadBand_, timeBias_, localeId_, rate, subscribe_,
                  holdTime_, waitTime_);
    if (auto recovery = group.TryAs<IVelqorGroupRecovery>()) recovery->SetResubscribe(resubscribe_);
    // Held (with a new event) only once the server knows it, so that a failed create is
    // never removed later.
    event_ = std::make_shared<TVelqorNamedEvent>();
    transport_ = group;
    serverHandle_ = handle;
    updateRate_ = std::max(rate, kMinUpdateRateMs);
    try {
        items_->AddAll();
    } catch (...) {
        Server().OPCGroupDefault().Subscribe = true;
        throw;
    }
    Server().OPCGroupDefault().Subscribe = true;
}

void TVelqorGroup::RemoveFromServer() {
    if (!transport_) {
        serverHandle_ = -1;
        return;
    }
    event_.reset();
    for (int i = 0; i < items_->Count(); ++i) items_->Items(i)->FServerHandle = -1;
    com::ComPtr<IVelqorGroup> group = std::move(transport_);
    group->Remove(Server().ServerGone(), serverHandle_);
    serverHandle_ = -1;
}

// ---- group-level reads and writes ----------------------------------------------------------

TVelqorItemList TVelqorGroup::AddedItems() const {
    TVelqorItemList list;
    for (int i = 0; i < items_->Count(); ++i)
        if (items_->Items(i)->FServerHandle != -1) list.Add(items_->Items(i));
    return list;
}

IVelqorGroup& TVelqorGroup::RequireTransport() const {
    if (!transport_) throw EOPCServerException(MsgText(Msg::NotConnected));
    return *transport_;
}

bool TVelqorGroup::Finish(bool ok, const TVelqorItemList& items, const char* caption) const {
    items.Report(caption, RaiseItemErrors());
    return ok;
}

bool TVelqorGroup::ReadSync(bool fromCache) {
    TVelqorItemList l = AddedItems();
    return ReadSync(l, fromCache);
}
bool TVelqorGroup::ReadSync(TVelqorItemList& items, bool fromCache) {
    return Finish(RequireTransport().ReadSync(items, fromCache), items, MsgText(Msg::OPCCommand));
}
bool TVelqorGroup::ReadAsync() {
    TVelqorItemList l = AddedItems();
    return ReadAsync(l);
}
bool TVelqorGroup::ReadAsync(TVelqorItemList& items) {
    return Finish(RequireTransport().ReadAsync(items), items, MsgText(Msg::OPCCommand));
}
bool TVelqorGroup::WriteSync() {
    TVelqorItemList l = AddedItems();
    return WriteSync(l);
}
bool TVelqorGroup::WriteSync(TVelqorItemList& items) {
    return Finish(RequireTransport().WriteSync(items), items, MsgText(Msg::CannotWriteItems));
}
bool TVelqorGroup::WriteAsync() {
    TVelqorItemList l = AddedItems();
    return WriteAsync(l);
}
bool TVelqorGroup::WriteAsync(TVelqorItemList& items) {
    // Not reported here: the outcome arrives as the write-error or write-complete message,
    // and the write-error message reports the failed items (once).
    return RequireTransport().WriteAsync(items);
}
bool TVelqorGroup::GetItemAttributes() {
    TVelqorItemList l = AddedItems();
    return GetItemAttributes(l);
}
bool TVelqorGroup::GetItemAttributes(TVelqorItemList& items) {
    return Finish(RequireTransport().GetItemAttributes(items), items, MsgText(Msg::OPCCommand));
}
void TVelqorGroup::Refresh(bool fromCache) { RequireTransport().Refresh(fromCache); }
void TVelqorGroup::Cancel() { RequireTransport().Cancel(); }

// ---- TVelqorGroups -------------------------------------------------------------------------

TVelqorGroups::~TVelqorGroups() {
    // Last first, each removed from the server by its destructor.
    while (!groups_.empty()) groups_.pop_back();
}

int TVelqorGroups::IndexOf(const TVelqorGroup* group) const {
    for (size_t i = 0; i < groups_.size(); ++i)
        if (groups_[i].get() == group) return int(i);
    return -1;
}

int TVelqorGroups::IndexOfGroup(const std::string& name) const {
    for (size_t i = 0; i < groups_.size(); ++i)
        if (groups_[i]->Name() == name) return int(i);
    return -1;
}

TVelqorGroup* TVelqorGroups::FindGroup(const std::string& name) const {
    int i = IndexOfGroup(name);
    return i < 0 ? nullptr : groups_[size_t(i)].get();
}

TVelqorGroup* TVelqorGroups::FindByID(int32_t id) const {
    for (const auto& g : groups_)
        if (g->ID() == id) return g.get();
    return nullptr;
}

TVelqorGroup* TVelqorGroups::AddGroup(const std::string& name) {
    if (IndexOfGroup(name) >= 0 || IsBlank(name))
        throw EOPCGroupException(MsgFormat(Msg::GroupExists, name));
    groups_.push_back(owner_.GroupClass()(*this, nextID_++));
    TVelqorGroup* group = groups_.back().get();
    group->SetName(name);
    // Created at once only on a live connection: a connection kept after a failed
    // activation is not one.
    if (owner_.Connected() && owner_.Active()) {
        try {
            group->CreateOnServer();
        } catch (...) {
            Delete(IndexOf(group));
            throw;
        }
    }
    return group;
}

void TVelqorGroups::Delete(int index) {
    TVelqorGroup* group = Items(index);
    std::exception_ptr error;
    try {
        group->RemoveFromServer();
    } catch (...) {
        error = std::current_exception();
    }
    // The group goes whatever the server said.
    groups_.erase(groups_.begin() + index);
    if (error) std::rethrow_exception(error);
}

void TVelqorGroups::RemoveGroup(const std::string& name) {
    int i = IndexOfGroup(name);
    if (i < 0) throw EOPCGroupException(MsgText(Msg::GroupNotFound));
    Delete(i);
}

void TVelqorGroups::RemoveAll() {
    DisconnectAll();
    while (!groups_.empty()) groups_.pop_back();
}

void TVelqorGroups::ConnectAll() {
    for (size_t i = 0; i < groups_.size(); ++i)
        if (!groups_[i]->TransportGroup()) groups_[i]->CreateOnServer();
}

void TVelqorGroups::DisconnectAll() {
    // Every group is dropped even when one removal fails; the first failure is raised after.
    std::exception_ptr error;
    for (size_t i = 0; i < groups_.size(); ++i) {
        try {
            groups_[i]->RemoveFromServer();
        } catch (...) {
            if (!error) error = std::current_exception();
        }
    }
    if (error) std::rethrow_exception(error);
}

}  // namespace velqor
