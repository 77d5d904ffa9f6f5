#include "fake/FakeTransport.h"

#include <algorithm>

namespace velqor::fake {

namespace {
std::string Join(const TVelqorItemList& items) {
    std::string s;
    for (TVelqorItemData* i : items) {
        if (!s.empty()) s += ",";
        s += i->FItemID;
    }
    return s;
}

bool Matches(const char* pattern, const char* text) {
    if (*pattern == '\0') return *text == '\0';
    if (*pattern == '*') return Matches(pattern + 1, text) || (*text && Matches(pattern, text + 1));
    if (*text && (*pattern == '?' || *pattern == *text)) return Matches(pattern + 1, text + 1);
    return false;
}
}  // namespace

// ---- connection ----------------------------------------------------------------------------

class FakeBrowser;

class FakeConnection : public com::ComObject<IVelqorDAConnection> {
  public:
    explicit FakeConnection(std::shared_ptr<FakeTransport> t) : t_(std::move(t)) {}

    void Connect(const std::string& clientName, const std::string& serverName,
                 const std::string& computerName, const ParamLines& params, NotifyWindow window,
                 int32_t connectDelay) override {
        std::string p;
        for (const auto& l : params) p += (p.empty() ? "" : "|") + l;
        t_->Record("conn", "Connect",
                   clientName + "," + serverName + "," + computerName + "," +
                       std::to_string(connectDelay) + "," + p);
        t_->MaybeFail("Connect");
        std::lock_guard lock(t_->mu_);
        t_->window_ = std::move(window);
        t_->connected_ = true;
    }
    void Disconnect() override {
        t_->Record("conn", "Disconnect");
        {
            std::lock_guard lock(t_->mu_);
            t_->connected_ = false;
        }
        t_->MaybeFail("Disconnect");
    }
    int32_t GetLocaleId() override {
        t_->Record("conn", "GetLocaleId");
        return 0;
    }
    void SetLocaleId(int32_t id) override { t_->Record("conn", "SetLocaleId", std::to_string(id)); }
    int32_t SpecVersion() override {
        std::lock_guard lock(t_->mu_);
        return t_->specVersion_;
    }
    com::IUnknown* ConnectionObject() override { return this; }
    tVelqorConnectionType ConnectionType() override {
        std::lock_guard lock(t_->mu_);
        return t_->type_;
    }
    bool SetClientName(const std::string& name) override {
        t_->Record("conn", "SetClientName", name);
        t_->MaybeFail("SetClientName");
        return true;
    }
    bool CheckConnection() override {
        t_->Record("conn", "CheckConnection");
        t_->MaybeFail("CheckConnection");
        std::lock_guard lock(t_->mu_);
        return t_->alive_;
    }
    void GetServerErrorString(int32_t code, std::string& text) override {
        GetErrorString(code, text);
    }
    void GetErrorString(int32_t code, std::string& text) override {
        std::lock_guard lock(t_->mu_);
        auto it = t_->errorTexts_.find(code);
        text = it != t_->errorTexts_.end() ? it->second : ResultMessage(code);
    }
    bool GetItemProperties(std::vector<TVelqorItemPropertyQuery>& items,
                           const std::vector<std::string>& filter, bool withValues, bool) override {
        t_->Record("conn", "GetItemProperties", std::to_string(items.size()));
        t_->MaybeFail("GetItemProperties");
        bool ok = true;
        for (auto& q : items) {
            FakeTransport::ItemScript s = t_->Script(q.ItemID);
            if (s.Failure) {
                q.Properties.push_back(TVelqorItemProperty::Failure(s.Failure));
                ok = false;
                continue;
            }
            for (TVelqorItemProperty p : s.Properties) {
                if (!filter.empty() && std::find(filter.begin(), filter.end(),
                                                 std::to_string(p.PropertyID)) == filter.end())
                    continue;
                if (!withValues) p.Value = Variant();
                q.Properties.push_back(std::move(p));
            }
        }
        return ok;
    }
    void GetItemPropertyValue(const std::string& itemID, int32_t propertyID,
                              std::string& text) override {
        t_->Record("conn", "GetItemPropertyValue", itemID + "," + std::to_string(propertyID));
        text.clear();
    }
    void GetStatus(tServerStateRecord& status) override {
        t_->Record("conn", "GetStatus");
        t_->MaybeFail("GetStatus");
        std::lock_guard lock(t_->mu_);
        status = t_->status_;
        status.StateText = ServerStateText(status.ServerState);
    }
    void CreateBrowser(com::ComPtr<IVelqorBrowser>& browser) override;

  private:
    std::shared_ptr<FakeTransport> t_;
};

// ---- browser -------------------------------------------------------------------------------

class FakeBrowser : public com::ComObject<IVelqorBrowser> {
  public:
    FakeBrowser(std::shared_ptr<FakeTransport> t, std::vector<FakeNode> tree, int32_t organization)
        : t_(std::move(t)), tree_(std::move(tree)), organization_(organization) {
        UpdatePosition();
    }

    int32_t Organization() override { return organization_; }
    std::vector<std::string> Gaps() override { return t_->BrowseGaps(); }
    bool MoveDown(const TVelqorBrowseItem& item) override {
        t_->Record("browser", "MoveDown", item.ItemName);
        for (const FakeNode& n : Children())
            if (n.ItemID == item.ItemName && !n.Children.empty()) {
                path_.push_back(&n);
                UpdatePosition();
                return true;
            }
        return false;
    }
    bool MoveTo(const TVelqorBrowseItem& item) override {
        t_->Record("browser", "MoveTo", item.ItemName);
        if (item.ItemName.empty()) return MoveToRoot();
        std::vector<const FakeNode*> path;
        if (!Find(tree_, item.ItemName, path)) return false;
        path_ = path;
        UpdatePosition();
        return true;
    }
    bool MoveToRoot() override {
        t_->Record("browser", "MoveToRoot");
        path_.clear();
        UpdatePosition();
        return true;
    }
    bool MoveUp() override {
        t_->Record("browser", "MoveUp");
        if (path_.empty()) return false;
        path_.pop_back();
        UpdatePosition();
        return true;
    }
    TVelqorBrowseItem* Position() override { return &position_; }
    void SetFilter(int32_t browseType, int32_t accessRights, int32_t datatype,
                   const std::string& filter) override {
        t_->Record("browser", "SetFilter",
                   std::to_string(browseType) + "," + std::to_string(accessRights) + "," +
                       std::to_string(datatype) + "," + filter);
        type_ = browseType;
        rights_ = accessRights;
        datatype_ = datatype;
        filter_ = filter;
    }
    bool Browse(bool flat) override {
        t_->Record("browser", "Browse", flat ? "flat" : "");
        t_->MaybeFail("Browse");
        if (!list_) throw EOPCBrowserException(MsgText(Msg::FirstCallSetBrowseList));
        list_->Clear();
        if (flat || organization_ == 2) {
            AddLeaves(tree_);
        } else {
            for (const FakeNode& n : Children()) {
                bool branch = !n.Children.empty();
                if ((branch && (type_ & 1)) || (n.IsItem && !branch && (type_ & 2) && Accepts(n)))
                    Add(n);
            }
        }
        return true;
    }
    void SetBrowseList(TVelqorBrowseItems* list) override { list_ = list; }

  private:
    const std::vector<FakeNode>& Children() const {
        return path_.empty() ? tree_ : path_.back()->Children;
    }
    bool Accepts(const FakeNode& n) const {
        if (rights_ != 0 && (n.AccessRights & rights_) != rights_) return false;
        if (datatype_ != 0 && n.Datatype != datatype_) return false;
        return filter_.empty() || Matches(filter_.c_str(), n.Name.c_str());
    }
    void Add(const FakeNode& n) {
        TVelqorBrowseItem* b = list_->Add();
        b->Name = n.Name;
        b->ItemName = n.ItemID;
        b->IsItem = n.IsItem;
        b->IsBranch = !n.Children.empty();
        b->HasChildren = !n.Children.empty();
    }
    void AddLeaves(const std::vector<FakeNode>& nodes) {
        for (const FakeNode& n : nodes) {
            if (n.IsItem && Accepts(n)) Add(n);
            AddLeaves(n.Children);
        }
    }
    static bool Find(const std::vector<FakeNode>& nodes, const std::string& id,
                     std::vector<const FakeNode*>& path) {
        for (const FakeNode& n : nodes) {
            path.push_back(&n);
            if (n.ItemID == id || Find(n.Children, id, path)) return true;
            path.pop_back();
        }
        return false;
    }
    void UpdatePosition() {
        position_ = TVelqorBrowseItem();
        if (path_.empty()) {
            position_.Name = "Root";
        } else {
            position_.Name = path_.back()->Name;
            position_.ItemName = path_.back()->ItemID;
            position_.IsBranch = position_.HasChildren = true;
        }
    }

    std::shared_ptr<FakeTransport> t_;
    std::vector<FakeNode> tree_;
    int32_t organization_;
    std::vector<const FakeNode*> path_;
    TVelqorBrowseItem position_;
    TVelqorBrowseItems* list_ = nullptr;
    int32_t type_ = 3, rights_ = 0, datatype_ = 0;
    std::string filter_;
};

void FakeConnection::CreateBrowser(com::ComPtr<IVelqorBrowser>& browser) {
    t_->Record("conn", "CreateBrowser");
    t_->MaybeFail("CreateBrowser");
    std::lock_guard lock(t_->mu_);
    browser = com::MakeComObject<IVelqorBrowser, FakeBrowser>(t_, t_->tree_, t_->organization_);
}

// ---- server browser ------------------------------------------------------------------------

class FakeServerBrowser : public com::ComObject<IVelqorServerBrowser> {
  public:
    explicit FakeServerBrowser(std::shared_ptr<FakeTransport> t) : t_(std::move(t)) {}
    void GetServerList(tVelqorServerSet types, const std::string& computerName, int32_t flags,
                       const TServerReport& onServer) override {
        t_->Record("serverlist", "GetServerList",
                   std::to_string(types) + "," + computerName + "," + std::to_string(flags));
        std::vector<FakeServerEntry> servers;
        {
            std::lock_guard lock(t_->mu_);
            servers = t_->servers_;
        }
        if (flags == 2) {
            for (unsigned t = 0; t < 8; ++t) {
                if (!(types & (1u << t))) continue;
                for (const auto& s : servers)
                    if (s.Types & (1u << t)) onServer(s.Description, s.ProgID, s.CLSID, 1u << t);
            }
        } else {
            for (const auto& s : servers)
                if (s.Types & types) onServer(s.Description, s.ProgID, s.CLSID, 0);
        }
        t_->MaybeFail("GetServerList");  // entries reported so far stay with the caller
    }
    std::vector<std::string> Gaps() override { return {}; }

  private:
    std::shared_ptr<FakeTransport> t_;
};

// ---- group ---------------------------------------------------------------------------------

FakeGroup::~FakeGroup() {
    std::lock_guard lock(t_->mu_);
    auto it = t_->groups_.find(createdAs_);
    if (it != t_->groups_.end() && it->second == this) t_->groups_.erase(it);
}

FakeGroup::State FakeGroup::Snapshot() const {
    std::lock_guard lock(mu_);
    return s_;
}

std::map<int32_t, uint32_t> FakeGroup::ServerItems() const {
    std::lock_guard lock(mu_);
    return serverItems_;
}

std::string FakeGroup::Target() const {
    std::lock_guard lock(mu_);
    return createdAs_.empty() ? "group" : createdAs_;
}

bool FakeGroup::PerItem(const std::string& op, TVelqorItemList& items,
                        const std::function<void(TVelqorItemData&)>& ok) {
    t_->Record(Target(), op, Join(items));
    t_->MaybeFail(op);
    bool all = true;
    for (TVelqorItemData* i : items) {
        int32_t code = t_->ItemFailure(i->FItemID);
        i->ApplyUpdate(ItemUpdate::OperationResult(code));
        if (code != 0) {
            all = false;
        } else {
            ok(*i);
        }
    }
    return all;
}

void FakeGroup::Create(int32_t& serverHandle, const std::string& name, int32_t clientHandle,
                       bool active, float deadBand, int32_t timeBias, int32_t localeId,
                       int32_t& updateRate, bool subscribe, int32_t holdTime, int32_t waitTime) {
    t_->Record(name, "Create", std::to_string(clientHandle) + "," + std::to_string(updateRate));
    t_->MaybeFail("Create");
    int32_t granted;
    {
        std::lock_guard lock(t_->mu_);
        granted = t_->grantedRate_ ? t_->grantedRate_ : updateRate;
        serverHandle = t_->nextHandle_++;
        t_->groups_[name] = this;
    }
    std::lock_guard lock(mu_);
    createdAs_ = name;
    s_ = State{name,     serverHandle, clientHandle, granted,   timeBias, localeId,
               holdTime, waitTime,     active,       subscribe, deadBand, false};
    updateRate = granted;
}

void FakeGroup::Remove(bool serverShutDown, int32_t& serverHandle) {
    t_->Record(Target(), "Remove", serverShutDown ? "shutdown" : "");
    serverHandle = -1;
    {
        std::lock_guard lock(t_->mu_);
        auto it = t_->groups_.find(createdAs_);
        if (it != t_->groups_.end() && it->second == this) t_->groups_.erase(it);
    }
    {
        std::lock_guard lock(mu_);
        s_.Removed = true;
        s_.ServerHandle = -1;
        serverItems_.clear();
    }
    t_->MaybeFail("Remove");
}

void FakeGroup::SetName(const std::string& name) {
    t_->Record(Target(), "SetName", name);
    t_->MaybeFail("SetName");
    std::lock_guard lock(mu_);
    s_.Name = name;
}

void FakeGroup::GetState(tVelqorGroupStateRec& state) {
    t_->Record(Target(), "GetState");
    t_->MaybeFail("GetState");
    std::lock_guard lock(mu_);
    state.UpdateRate = s_.UpdateRate;
    state.Active = s_.Active;
    state.Name = s_.Name;
    state.TimeBias = s_.TimeBias;
    state.DeadBand = s_.DeadBand;
    state.LocaleId = s_.LocaleId;
    state.ClientHandle = s_.ClientHandle;
    state.ServerHandle = s_.ServerHandle;
    state.HoldTime = s_.HoldTime;
    state.WaitTime = s_.WaitTime;
}

void FakeGroup::SetState(int32_t& updateRate, bool active, int32_t timeBias, float deadBand,
                         int32_t localeId, int32_t clientHandle, int32_t holdTime,
                         int32_t waitTime) {
    char dead[32];
    std::snprintf(dead, sizeof dead, "%g", double(deadBand));
    t_->Record(Target(), "SetState",
               std::to_string(updateRate) + "," + (active ? "1" : "0") + "," +
                   std::to_string(timeBias) + "," + dead + "," + std::to_string(localeId) + "," +
                   std::to_string(clientHandle) + "," + std::to_string(holdTime) + "," +
                   std::to_string(waitTime));
    t_->MaybeFail("SetState");
    {
        std::lock_guard lock(t_->mu_);
        if (t_->grantedRate_) updateRate = t_->grantedRate_;
    }
    std::lock_guard lock(mu_);
    s_.UpdateRate = updateRate;
    s_.Active = active;
    s_.TimeBias = timeBias;
    s_.DeadBand = deadBand;
    s_.LocaleId = localeId;
    s_.ClientHandle = clientHandle;
    s_.HoldTime = holdTime;
    s_.WaitTime = waitTime;
}

bool FakeGroup::AddItems(TVelqorItemList& items, bool add) {
    return PerItem(add ? "AddItems" : "ValidateItems", items, [&](TVelqorItemData& i) {
        if (!add) return;
        FakeTransport::ItemScript s = t_->Script(i.FItemID);
        int32_t h;
        {
            std::lock_guard lock(t_->mu_);
            h = t_->nextHandle_++;
        }
        i.FServerHandle = h;
        i.FCanonicalDatatype = s.Canonical;
        i.FAccessRights = s.Rights;
        std::lock_guard lock(mu_);
        serverItems_[h] = i.ClientHandle();
    });
}

bool FakeGroup::RemoveItems(bool serverShutDown, TVelqorItemList& items) {
    t_->Record(Target(), "RemoveItems", Join(items) + (serverShutDown ? ";shutdown" : ""));
    t_->MaybeFail("RemoveItems");
    std::lock_guard lock(mu_);
    for (TVelqorItemData* i : items) {
        serverItems_.erase(i->FServerHandle);
        i->FServerHandle = -1;
        i->ApplyUpdate(ItemUpdate::OperationResult(0));
    }
    return true;
}

bool FakeGroup::SetActiveState(TVelqorItemList& items, bool active) {
    return PerItem(active ? "Activate" : "Deactivate", items,
                   [&](TVelqorItemData& i) { i.FIsActive = active; });
}

bool FakeGroup::SetDatatypes(TVelqorItemList& items) {
    return PerItem("SetDatatypes", items, [](TVelqorItemData&) {});
}

bool FakeGroup::ReadSync(TVelqorItemList& items, bool fromCache) {
    return PerItem(fromCache ? "ReadCache" : "ReadDevice", items, [&](TVelqorItemData& i) {
        ItemUpdate u = t_->ValueUpdate(i);
        u.Fields &= ~uint32_t(ItemUpdate::kError | ItemUpdate::kCountUpdate);  // a read
        i.ApplyUpdate(u);
    });
}

bool FakeGroup::ReadAsync(TVelqorItemList& items) {
    std::vector<const TVelqorItemData*> ok;
    bool all = PerItem("ReadAsync", items, [&](TVelqorItemData& i) { ok.push_back(&i); });
    std::vector<ItemUpdate> updates;
    for (const TVelqorItemData* i : ok) updates.push_back(t_->ValueUpdate(*i));
    t_->PostDataChange(Snapshot().ClientHandle, std::move(updates));
    return all;
}

bool FakeGroup::WriteSync(TVelqorItemList& items) {
    std::string args;
    for (TVelqorItemData* i : items)
        args += (args.empty() ? "" : ",") + i->FItemID + "=" + i->WriteValue().ToText();
    t_->Record(Target(), "WriteSync", args);
    t_->MaybeFail("WriteSync");
    bool all = true;
    for (TVelqorItemData* i : items) {
        i->ApplyUpdate(ItemUpdate::OperationResult(t_->ItemFailure(i->FItemID)));
        if (i->Error()) {
            all = false;
            continue;
        }
        std::lock_guard lock(t_->mu_);
        t_->items_[i->FItemID].Value = i->WriteValue();
    }
    return all;
}

bool FakeGroup::WriteAsync(TVelqorItemList& items) {
    t_->Record(Target(), "WriteAsync", Join(items));
    t_->MaybeFail("WriteAsync");
    std::vector<ItemUpdate> updates;
    bool failed = false;
    for (TVelqorItemData* i : items) {
        ItemUpdate u;
        u.ClientHandle = i->ClientHandle();
        u.Fields = ItemUpdate::kError;
        u.Error = t_->ItemFailure(i->FItemID);
        if (u.Error) {
            failed = true;
            u.Fields |= ItemUpdate::kQuality;
            u.Quality = 0;
        }
        updates.push_back(u);
    }
    t_->PostWriteResult(failed, std::move(updates));
    return true;  // the outcome arrives as a message
}

bool FakeGroup::GetItemAttributes(TVelqorItemList& items) {
    return PerItem("GetItemAttributes", items, [&](TVelqorItemData& i) {
        FakeTransport::ItemScript s = t_->Script(i.FItemID);
        i.FEUType = s.EUType;
        i.SetEUInfo(s.EUInfo);
    });
}

void FakeGroup::Cancel() {
    t_->Record(Target(), "Cancel");
    t_->MaybeFail("Cancel");
}

void FakeGroup::Refresh(bool fromCache) {
    t_->Record(Target(), "Refresh", fromCache ? "cache" : "device");
    t_->MaybeFail("Refresh");
    std::vector<ItemUpdate> updates;
    for (const auto& [h, client] : ServerItems())
        if (const TVelqorItemData* i = FindItemByClientHandle(client); i && i->FIsActive)
            updates.push_back(t_->ValueUpdate(*i));
    t_->PostDataChange(Snapshot().ClientHandle, std::move(updates));
}

void FakeGroup::Reserved() { t_->Record(Target(), "Reserved"); }

// ---- the transport -------------------------------------------------------------------------

std::shared_ptr<FakeTransport> FakeTransport::Create() {
    return std::shared_ptr<FakeTransport>(new FakeTransport);
}

void FakeTransport::FailCall(const std::string& op, int32_t code, int times) {
    std::lock_guard lock(mu_);
    failures_[op] = Failure{code, "", times};
}

void FakeTransport::FailCallWithText(const std::string& op, const std::string& text, int times) {
    std::lock_guard lock(mu_);
    failures_[op] = Failure{0, text, times};
}

void FakeTransport::FailItem(const std::string& itemID, int32_t code) {
    std::lock_guard lock(mu_);
    items_[itemID].Failure = code;
}

void FakeTransport::ClearFailures() {
    std::lock_guard lock(mu_);
    failures_.clear();
    for (auto& [id, s] : items_) s.Failure = 0;
}

void FakeTransport::SetConnectionType(tVelqorConnectionType type) {
    std::lock_guard lock(mu_);
    type_ = type;
}
void FakeTransport::SetSpecVersion(int32_t version) {
    std::lock_guard lock(mu_);
    specVersion_ = version;
}
void FakeTransport::SetCheckConnection(bool alive) {
    std::lock_guard lock(mu_);
    alive_ = alive;
}
void FakeTransport::SetStatus(const tServerStateRecord& status) {
    std::lock_guard lock(mu_);
    status_ = status;
}
void FakeTransport::SetErrorText(int32_t code, const std::string& text) {
    std::lock_guard lock(mu_);
    errorTexts_[code] = text;
}
void FakeTransport::SetItemValue(const std::string& itemID, const Variant& value, int32_t quality,
                                 double timeStamp) {
    std::lock_guard lock(mu_);
    auto& s = items_[itemID];
    s.Value = value;
    s.Quality = quality;
    s.TimeStamp = timeStamp;
}
void FakeTransport::SetItemInfo(const std::string& itemID, int32_t canonicalType,
                                int32_t accessRights) {
    std::lock_guard lock(mu_);
    items_[itemID].Canonical = canonicalType;
    items_[itemID].Rights = accessRights;
}
void FakeTransport::SetItemEU(const std::string& itemID, int32_t euType, const Variant& euInfo) {
    std::lock_guard lock(mu_);
    items_[itemID].EUType = euType;
    items_[itemID].EUInfo = euInfo;
}
void FakeTransport::SetGrantedRate(int32_t ms) {
    std::lock_guard lock(mu_);
    grantedRate_ = ms;
}
void FakeTransport::SetItemProperties(const std::string& itemID,
                                      std::vector<TVelqorItemProperty> properties) {
    std::lock_guard lock(mu_);
    items_[itemID].Properties = std::move(properties);
}
void FakeTransport::SetBrowseTree(std::vector<FakeNode> roots, int32_t organization) {
    std::lock_guard lock(mu_);
    tree_ = std::move(roots);
    organization_ = organization;
}
void FakeTransport::SetBrowseGaps(std::vector<std::string> gaps) {
    std::lock_guard lock(mu_);
    gaps_ = std::move(gaps);
}
std::vector<std::string> FakeTransport::BrowseGaps() const {
    std::lock_guard lock(mu_);
    return gaps_;
}
void FakeTransport::SetServerList(std::vector<FakeServerEntry> servers) {
    std::lock_guard lock(mu_);
    servers_ = std::move(servers);
}

std::vector<FakeNode> FakeTransport::TreeFromIDs(const std::vector<std::string>& itemIDs) {
    std::vector<FakeNode> roots;
    for (const std::string& id : itemIDs) {
        std::vector<FakeNode>* level = &roots;
        size_t start = 0;
        for (;;) {
            size_t dot = id.find('.', start);
            bool leaf = dot == std::string::npos;
            std::string name = id.substr(start, leaf ? std::string::npos : dot - start);
            std::string path = leaf ? id : id.substr(0, dot);
            auto it = std::find_if(level->begin(), level->end(),
                                   [&](const FakeNode& n) { return n.ItemID == path; });
            if (it == level->end()) {
                level->push_back(FakeNode{name, path, leaf, 3, VT_R8, {}});
                it = level->end() - 1;
            }
            if (leaf) {
                it->IsItem = true;
                break;
            }
            level = &it->Children;
            start = dot + 1;
        }
    }
    return roots;
}

std::vector<FakeCall> FakeTransport::Calls() const {
    std::lock_guard lock(mu_);
    return calls_;
}

std::vector<std::string> FakeTransport::Ops(const std::set<std::string>& onlyOps) const {
    std::lock_guard lock(mu_);
    std::vector<std::string> ops;
    for (const auto& c : calls_)
        if (onlyOps.empty() || onlyOps.count(c.Op)) ops.push_back(c.Target + "." + c.Op);
    return ops;
}

int FakeTransport::CountCalls(const std::string& op) const {
    std::lock_guard lock(mu_);
    return int(
        std::count_if(calls_.begin(), calls_.end(), [&](const FakeCall& c) { return c.Op == op; }));
}

void FakeTransport::ClearCalls() {
    std::lock_guard lock(mu_);
    calls_.clear();
}

int FakeTransport::ConnectionsCreated() const {
    std::lock_guard lock(mu_);
    return connections_;
}
bool FakeTransport::Connected() const {
    std::lock_guard lock(mu_);
    return connected_;
}
NotifyWindow FakeTransport::Window() const {
    std::lock_guard lock(mu_);
    return window_;
}
com::ComPtr<FakeGroup> FakeTransport::GroupNamed(const std::string& name) const {
    std::lock_guard lock(mu_);
    auto it = groups_.find(name);
    return it == groups_.end() ? com::ComPtr<FakeGroup>() : com::ComPtr<FakeGroup>(it->second);
}
int FakeTransport::LiveGroupCount() const {
    std::lock_guard lock(mu_);
    return int(groups_.size());
}

void FakeTransport::Record(const std::string& target, const std::string& op,
                           const std::string& args) {
    std::lock_guard lock(mu_);
    calls_.push_back(FakeCall{target, op, args});
}

void FakeTransport::MaybeFail(const std::string& op) {
    Failure f;
    {
        std::lock_guard lock(mu_);
        auto it = failures_.find(op);
        if (it == failures_.end() || it->second.Times == 0) return;
        f = it->second;
        if (it->second.Times > 0) --it->second.Times;
    }
    if (!f.Text.empty()) throw EOPCServerException(f.Text);
    RaiseComError(f.Code);
}

FakeTransport::ItemScript FakeTransport::Script(const std::string& itemID) const {
    std::lock_guard lock(mu_);
    auto it = items_.find(itemID);
    return it == items_.end() ? ItemScript{} : it->second;
}

int32_t FakeTransport::ItemFailure(const std::string& itemID) const {
    return Script(itemID).Failure;
}

ItemUpdate FakeTransport::ValueUpdate(const TVelqorItemData& item) const {
    ItemScript s = Script(item.FItemID);
    ItemUpdate u;
    u.ClientHandle = item.ClientHandle();
    u.Fields = ItemUpdate::kQuality | ItemUpdate::kTimeStamp | ItemUpdate::kError |
               ItemUpdate::kCountUpdate;
    if (s.Value) {
        u.Fields |= ItemUpdate::kValue | ItemUpdate::kLearnCanonical;
        u.Value = *s.Value;
    }
    u.Quality = s.Quality;
    u.TimeStamp = s.TimeStamp;
    return u;
}

com::ComPtr<IVelqorDAConnection> FakeTransport::NewConnection() {
    {
        std::lock_guard lock(mu_);
        ++connections_;
    }
    return com::MakeComObject<IVelqorDAConnection, FakeConnection>(shared_from_this());
}

com::ComPtr<IVelqorGroup> FakeTransport::NewGroup() {
    return com::MakeComObject<IVelqorGroup, FakeGroup>(shared_from_this());
}

com::ComPtr<IVelqorServerBrowser> FakeTransport::NewServerBrowser() {
    return com::MakeComObject<IVelqorServerBrowser, FakeServerBrowser>(shared_from_this());
}

bool FakeTransport::PostShutdown(const std::string& reason) {
    NotifyWindow w = Window();
    return w && w->Post(WM_VELQOR_SHUTDOWN, 0, std::make_unique<ShutdownPayload>(reason));
}

bool FakeTransport::PostDataChange(int32_t groupClientHandle, std::vector<ItemUpdate> updates,
                                   bool subscriptionInvalid,
                                   std::shared_ptr<const std::atomic<bool>> cancelled) {
    NotifyWindow w = Window();
    if (!w) return false;
    auto p = std::make_unique<ItemUpdatesPayload>();
    p->Items = std::move(updates);
    p->SubscriptionInvalid = subscriptionInvalid;
    p->Cancelled = std::move(cancelled);
    return w->Post(WM_VELQOR_DATACHANGE, uintptr_t(uint32_t(groupClientHandle)), std::move(p));
}

bool FakeTransport::PostValues(const TVelqorGroup& group,
                               const std::vector<const TVelqorItemData*>& items) {
    std::vector<ItemUpdate> updates;
    for (const TVelqorItemData* i : items) updates.push_back(ValueUpdate(*i));
    return PostDataChange(group.ID(), std::move(updates));
}

bool FakeTransport::PostWriteResult(bool failed, std::vector<ItemUpdate> updates) {
    NotifyWindow w = Window();
    if (!w) return false;
    auto p = std::make_unique<ItemUpdatesPayload>();
    p->Items = std::move(updates);
    return w->Post(failed ? WM_VELQOR_WRITEERROR : WM_VELQOR_WRITECOMPLETE, 0, std::move(p));
}

}  // namespace velqor::fake
