#include <vector>

#include "contract/VelqorTexts.h"
#include "model/Velqor.h"
#include "model/VelqorIntfGen.h"

namespace velqor {

std::string TVelqorServer::ResultText(int32_t code) const {
    if (code == 0) return "";
    std::string text;
    if (Connected()) {
        try {
            auto da = DAConnection();
            if (resultTextsOf_ != da.Get()) {
                resultTexts_.clear();
                resultTextsOf_ = da.Get();
            }
            if (auto known = resultTexts_.find(code); known != resultTexts_.end())
                return known->second;
            da->GetErrorString(code, text);
            if (IsBlank(text)) da->GetServerErrorString(code, text);
        } catch (const std::exception&) {
            text.clear();  // a server that cannot say leaves it to the system
        }
    }
    if (IsBlank(text)) {
        text = com::SystemMessageText(code);
        if (text.rfind("Unknown error", 0) == 0) text.clear();
    }
    if (IsBlank(text)) text = MsgFormat(Msg::UnknownError, code);
    if (Connected()) resultTexts_[code] = text;
    return text;
}

TVelqorServer::TVelqorServer(EventLoop* loop) : TVelqorSvr(loop) {
    SetConnectDelay(300);
    browser_ = std::make_unique<TVelqorBrowser>(this);
}

TVelqorServer::~TVelqorServer() {
    // Deactivate while this class's overrides still run: transport groups are removed.
    Shutdown();
    browser_.reset();
    groups_.reset();
    for (TVelqorBrowser* b : std::set<TVelqorBrowser*>(boundBrowsers_)) b->SetOPCServer(nullptr);
}

TVelqorGroups& TVelqorServer::OPCGroups() {
    // Built on first use so that a descendant's GroupsClass is the one asked.
    if (!groups_) groups_ = GroupsClass()(*this);
    return *groups_;
}

TVelqorGroupClass TVelqorServer::GroupClass() const {
    return
        [](TVelqorGroups& owner, int32_t id) { return std::make_unique<TVelqorGroup>(owner, id); };
}
TVelqorGroupsClass TVelqorServer::GroupsClass() const {
    return [](TVelqorServer& owner) { return std::make_unique<TVelqorGroups>(owner); };
}
TVelqorItemClass TVelqorServer::ItemClass() const {
    return [](TVelqorItems& owner) { return std::make_unique<TVelqorItem>(owner); };
}
TVelqorItemsClass TVelqorServer::ItemsClass() const {
    return [](TVelqorGroup& owner) { return std::make_unique<TVelqorItems>(owner); };
}

com::ComPtr<IVelqorDAConnection> TVelqorServer::DAConnection() const {
    if (!Connection()) throw EOPCServerException(MsgText(Msg::NotConnected));
    return Connection().As<IVelqorDAConnection>();
}

void TVelqorServer::GetStatus(tServerStateRecord& status) {
    if (!Active()) throw EOPCServerException(MsgText(Msg::NotConnected));
    DAConnection()->GetStatus(status);
}

void TVelqorServer::Loaded() {
    if (Designing()) batchMode_ = false;
    TVelqorSvr::Loaded();
}

com::ComPtr<IVelqorConnection> TVelqorServer::CreateConnection() {
    return CreateVelqorConnection(Protocol(), Designing());
}

com::ComPtr<IVelqorGroup> TVelqorServer::CreateGroupObject() {
    return CreateVelqorGroup(DAConnection());
}

void TVelqorServer::AfterConnect() {
    browser_->SetOPCServer(this);
    // Other browsers bound to this component must not keep a browser of an old connection.
    for (TVelqorBrowser* b : boundBrowsers_)
        if (b != browser_.get()) b->Reset();
}

void TVelqorServer::Activated() {
    OPCGroups().ConnectAll();
    TVelqorSvr::Activated();
}

void TVelqorServer::Deactivating() {
    TVelqorSvr::Deactivating();
    OPCGroups().DisconnectAll();
    browser_->SetOPCServer(nullptr);
    for (TVelqorBrowser* b : std::set<TVelqorBrowser*>(boundBrowsers_))
        if (b != browser_.get()) b->Reset();
}

void TVelqorServer::WndProc(uint32_t message, uintptr_t wParam,
                            std::unique_ptr<MessagePayload> payload) {
    switch (message) {
        case WM_VELQOR_DATACHANGE:
            HandleDataChange(wParam, std::move(payload));
            break;
        case WM_VELQOR_WRITEERROR:
        case WM_VELQOR_WRITECOMPLETE:
            HandleWriteResult(message, std::move(payload));
            break;
        default:
            TVelqorSvr::WndProc(message, wParam, std::move(payload));
            break;
    }
}

bool TVelqorServer::ApplyUpdates(const MessagePayload* payload, TVelqorGroup* group,
                                 TVelqorItemList& applied) {
    auto* p = dynamic_cast<const ItemUpdatesPayload*>(payload);
    if (!p) return true;
    if (p->Cancelled && p->Cancelled->load()) return false;
    for (const ItemUpdate& u : p->Items) {
        // Only items that still exist and belong to this component (and to the group, when
        // the message names one) are touched.
        auto* item = dynamic_cast<TVelqorItem*>(FindItemByClientHandle(u.ClientHandle));
        if (!item) continue;
        TVelqorGroup* owner = item->Group();
        if (group ? owner != group : &owner->Server() != this) continue;
        item->ApplyUpdate(u);
        applied.Add(item);
    }
    return true;
}

void TVelqorServer::HandleDataChange(uintptr_t groupID, std::unique_ptr<MessagePayload> payload) {
    TVelqorGroup* group = OPCGroups().FindByID(int32_t(groupID));
    if (!group) return;
    TVelqorItemList items;
    if (!ApplyUpdates(payload.get(), group, items)) return;
    auto* p = dynamic_cast<const ItemUpdatesPayload*>(payload.get());
    const bool lost = p && p->SubscriptionInvalid;
    if (lost) group->MarkInactive();
    const TOnSubscriptionEvent* news = nullptr;
    if (lost) news = &OnSubscriptionLost;
    if (p && p->SubscriptionInterrupted) news = &OnSubscriptionInterrupted;
    if (p && p->SubscriptionRecovered) news = &OnSubscriptionRecovered;
    if (p && p->ServerSilent) news = &OnServerSilent;
    if (p && p->ServerAnswers) news = &OnServerAnswers;
    // A change whose items have all gone since it was posted raises nothing, and news without
    // items is no data change.
    if (!(p && p->Items.empty() && news) && !(p && !p->Items.empty() && items.Empty()))
        RaiseDataChange(group, items);
    if (!news || !*news) return;
    // The data-change handlers may have removed the group.
    if (TVelqorGroup* still = OPCGroups().FindByID(int32_t(groupID)))
        (*news)(this, still, p->SubscriptionReason);
}

void TVelqorServer::RaiseDataChange(TVelqorGroup* group, TVelqorItemList& items) {
    group->PulseEvent();
    if (group->OnDatachange) {
        std::vector<uint32_t> handles;
        for (TVelqorItemData* i : items) handles.push_back(i->ClientHandle());
        group->OnDatachange(this, items);
        // The group's handler may have destroyed items (or the group): the server's event
        // gets only those that still exist.
        TVelqorItemList still;
        for (int i = 0; i < items.Count(); ++i)
            if (FindItemByClientHandle(handles[size_t(i)]) == items[i]) still.Add(items[i]);
        items = still;
    }
    if (OnDatachange) OnDatachange(this, items);
}

void TVelqorServer::HandleWriteResult(uint32_t message, std::unique_ptr<MessagePayload> payload) {
    TVelqorItemList items;
    if (!ApplyUpdates(payload.get(), nullptr, items)) return;
    if (message == WM_VELQOR_WRITECOMPLETE) {
        if (OnWriteComplete) OnWriteComplete(this, items);
    } else if (OnWriteError) {
        OnWriteError(this, items);
    } else {
        items.Report(MsgText(Msg::CannotWriteItems), true);
    }
}

}  // namespace velqor
