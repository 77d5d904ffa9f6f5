// The group object of the simulated servers: which interfaces a generation offers, item
// management, the group's state and the item deadbands.
#include "SimGroup.h"

#include <algorithm>
#include <cstring>

#include "SimServerParts.h"
#include "com/ComValues.h"
#include "com/runtime/ComText.h"

namespace velqor::sim {
namespace {

constexpr DWORD kFastestRate = 50;  // ms; faster requests are revised to this

bool Offered(SimGeneration g, REFIID iid) {
    static const IID* const da10[] = {&IID_IUnknown,   &IID_IOPCItemMgt, &IID_IOPCGroupStateMgt,
                                      &IID_IOPCSyncIO, &IID_IOPCAsyncIO, &IID_IDataObject};
    static const IID* const da20[] = {&IID_IOPCAsyncIO2, &IID_IConnectionPointContainer};
    static const IID* const da30[] = {&IID_IUnknown,
                                      &IID_IOPCItemMgt,
                                      &IID_IOPCGroupStateMgt,
                                      &IID_IOPCGroupStateMgt2,
                                      &IID_IOPCSyncIO,
                                      &IID_IOPCSyncIO2,
                                      &IID_IOPCAsyncIO2,
                                      &IID_IOPCAsyncIO3,
                                      &IID_IOPCItemDeadbandMgt,
                                      &IID_IConnectionPointContainer};
    auto in = [&](const auto& list) {
        return std::any_of(std::begin(list), std::end(list),
                           [&](const IID* i) { return *i == iid; });
    };
    if (g == SimGeneration::Da30) return in(da30);
    return in(da10) || (g == SimGeneration::Da20 && in(da20));
}

bool IsScalarType(VARTYPE vt) {
    switch (vt) {
        case VT_I1:
        case VT_UI1:
        case VT_I2:
        case VT_UI2:
        case VT_I4:
        case VT_UI4:
        case VT_I8:
        case VT_UI8:
        case VT_INT:
        case VT_UINT:
        case VT_R4:
        case VT_R8:
        case VT_CY:
        case VT_DATE:
        case VT_BSTR:
        case VT_BOOL:
            return true;
        default:
            return false;
    }
}

// A requested type the item can be delivered as: its own, none, or any scalar for a scalar.
bool Deliverable(VARTYPE canonical, VARTYPE requested) {
    if (requested == VT_EMPTY || requested == canonical) return true;
    return !(canonical & VT_ARRAY) && IsScalarType(requested);
}

// Frees the arrays of a per-item answer that is not handed out.
// The attributes of one item as IEnumOPCItemAttributes hands them out.
struct AttributeCopy {
    SimGroupItem Item;
    OPCHANDLE Server = 0;
};

class ItemAttributesEnumerator final : public com::PlatformObject<IEnumOPCItemAttributes> {
  public:
    ItemAttributesEnumerator(std::shared_ptr<ComSimAddressSpace> space,
                             std::vector<AttributeCopy> items, std::size_t pos = 0)
        : space_(std::move(space)), items_(std::move(items)), pos_(pos) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, OPCITEMATTRIBUTES** out, ULONG* fetched) override {
        VELQOR_SIM_ENTER(faults, EnterSimCall());
        if (fetched) *fetched = 0;
        if (!out || !fetched) return E_INVALIDARG;
        *out = nullptr;
        ULONG n = static_cast<ULONG>(std::min<std::size_t>(celt, items_.size() - pos_));
        if (n == 0) return S_FALSE;
        // The short-arrays switch hands out one attribute fewer and still answers S_OK.
        bool shortList = faults->OutArrays == OutArrayFault::Short;
        ULONG given = shortList ? n - 1 : n;
        auto* a = TaskArray<OPCITEMATTRIBUTES>(given);
        if (!a) return E_OUTOFMEMORY;
        for (ULONG i = 0; i < given; ++i) Fill(items_[pos_ + i], a[i]);
        pos_ += n;
        *out = a;
        *fetched = given;
        return n == celt || shortList ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        std::size_t left = items_.size() - pos_;
        pos_ += std::min<std::size_t>(celt, left);
        return celt <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        pos_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumOPCItemAttributes** copy) override {
        if (!copy) return E_POINTER;
        *copy = com::MakeObject<ItemAttributesEnumerator>(space_, items_, pos_).Detach();
        return S_OK;
    }

  private:
    void Fill(const AttributeCopy& c, OPCITEMATTRIBUTES& a) const {
        const xmldasim::ItemDef& d = space_->Node(c.Item.Node).item;
        a.szAccessPath = TaskString(c.Item.AccessPath);
        a.szItemID = TaskString(c.Item.ItemId);
        a.bActive = c.Item.Active ? TRUE : FALSE;
        a.hClient = c.Item.Client;
        a.hServer = c.Server;
        a.dwAccessRights = AccessRightsOf(d.access);
        a.vtRequestedDataType = c.Item.Requested;
        a.vtCanonicalDataType = VarTypeOf(d.type);
        VariantInit(&a.vEUInfo);
        a.dwEUType = OPC_NOENUM;
        if (d.euType == xmldasim::EuType::Analog) {
            a.dwEUType = OPC_ANALOG;
            // Analog: the low and high EU limits as an array of two doubles.
            if (SAFEARRAY* sa = SafeArrayCreateVector(VT_R8, 0, 2)) {
                double* cells = nullptr;
                SafeArrayAccessData(sa, reinterpret_cast<void**>(&cells));
                cells[0] = d.lowEU;
                cells[1] = d.highEU;
                SafeArrayUnaccessData(sa);
                a.vEUInfo.vt = VT_ARRAY | VT_R8;
                a.vEUInfo.parray = sa;
            }
        } else if (d.euType == xmldasim::EuType::Enumerated) {
            a.dwEUType = OPC_ENUMERATED;
            space_->Property(c.Item.Node, OPC_PROPERTY_EU_INFO, a.vEUInfo);
        }
    }

    std::shared_ptr<ComSimAddressSpace> space_;
    std::vector<AttributeCopy> items_;
    std::size_t pos_;
};

}  // namespace

SimItemValue::SimItemValue(SimItemValue&& o) noexcept
    : Client(o.Client), Value(o.Value), Quality(o.Quality), Time(o.Time), Error(o.Error) {
    VariantInit(&o.Value);
}

SimGroup::SimGroup(std::shared_ptr<ComSimAddressSpace> space, std::weak_ptr<SimGroupList> list,
                   SimGeneration generation, SimGroupSettings settings)
    : space_(std::move(space)),
      list_(std::move(list)),
      generation_(generation),
      settings_(std::move(settings)),
      dataPoint_(*this, IID_IOPCDataCallback),
      callbacks_(EventLoop::Default()) {
    points_.Add(dataPoint_);
    std::lock_guard lock(mu_);
    Restart();
}

SimGroup::~SimGroup() {
    callbacks_.CancelAll();
    dataPoint_.Clear();
    ReportSentValues(Name(), sentValues_.load());
}

HRESULT SimGroup::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!Offered(generation_, iid)) return E_NOINTERFACE;
    return Base::QueryInterface(iid, object);
}

DWORD SimGroup::ReviseRate(DWORD requested) { return std::max(requested, kFastestRate); }

std::string SimGroup::Name() const {
    std::lock_guard lock(mu_);
    return settings_.Name;
}

bool SimGroup::Rename(const std::string& name) {
    std::lock_guard lock(mu_);
    settings_.Name = name;
    return true;
}

void SimGroup::Detach(bool keepCallbacks) {
    std::lock_guard lock(mu_);
    if (keepCallbacks) {
        // The fault switch: the sinks the group has now go on receiving, advised or not.
        for (auto& sink : dataPoint_.Sinks<IOPCDataCallback>()) ghostCallbacks_.push_back(sink);
        for (auto& e : advises_.Snapshot()) ghostAdvises_.push_back(e);
        return;
    }
    detached_ = true;
    pending_.clear();
    if (timer_) callbacks_.StopTimer(timer_);
    timer_ = 0;
}

SimGroupItem* SimGroup::FindItem(OPCHANDLE server) {
    auto it = items_.find(server);
    return it == items_.end() ? nullptr : &it->second;
}

// IOPCItemMgt

HRESULT SimGroup::CheckItem(const OPCITEMDEF& def, VARTYPE& canonical, DWORD& rights, int& node,
                            const SimFaults& faults) const {
    canonical = VT_EMPTY;
    rights = 0;
    node = -1;
    if (!def.szItemID || !*def.szItemID) return OPC_E_INVALIDITEMID;
    std::string id = OleStrToText(def.szItemID);
    if (def.szAccessPath && *def.szAccessPath) return OPC_E_UNKNOWNPATH;
    int n = space_->Find(id);
    if (n < 0 || !space_->IsItem(n)) return OPC_E_UNKNOWNITEMID;
    if (faults.SFalseWithErrors || faults.AddErrorItems.count(id)) return kSimItemFault;
    const xmldasim::ItemDef& d = space_->Node(n).item;
    canonical = VarTypeOf(d.type);
    rights = AccessRightsOf(d.access);
    if (!Deliverable(canonical, def.vtRequestedDataType)) return OPC_E_BADTYPE;
    node = n;
    return S_OK;
}

HRESULT SimGroup::ValidateOrAdd(DWORD count, OPCITEMDEF* items, bool add, OPCITEMRESULT** results,
                                HRESULT** errors) {
    VELQOR_SIM_ENTER(faults, EnterSimCall());
    if (!ClearOutPointers(results, errors)) return E_INVALIDARG;
    if (count == 0 || !items) return E_INVALIDARG;
    OPCITEMRESULT* r;
    HRESULT* e;
    if (!TaskArrays(count, r, e)) return E_OUTOFMEMORY;
    HRESULT overall = S_OK;
    std::lock_guard lock(mu_);
    for (DWORD i = 0; i < count; ++i) {
        int node;
        e[i] = CheckItem(items[i], r[i].vtCanonicalDataType, r[i].dwAccessRights, node, *faults);
        if (FAILED(e[i])) {
            r[i] = OPCITEMRESULT{};
            overall = S_FALSE;
            continue;
        }
        if (!add) continue;
        SimGroupItem item;
        item.Node = node;
        item.ItemId = OleStrToText(items[i].szItemID);
        item.Client = items[i].hClient;
        item.Active = items[i].bActive != FALSE;
        item.Requested = items[i].vtRequestedDataType;
        r[i].hServer = nextItem_++;
        items_.emplace(r[i].hServer, std::move(item));
    }
    if (faults->OutArrays == OutArrayFault::Null) {
        FreeTaskArrays(r, e);
        return S_OK;
    }
    *results = r;
    *errors = e;
    return overall;
}

HRESULT SimGroup::AddItems(DWORD count, OPCITEMDEF* items, OPCITEMRESULT** results,
                           HRESULT** errors) {
    return ValidateOrAdd(count, items, true, results, errors);
}

HRESULT SimGroup::ValidateItems(DWORD count, OPCITEMDEF* items, BOOL, OPCITEMRESULT** results,
                                HRESULT** errors) {
    return ValidateOrAdd(count, items, false, results, errors);
}

HRESULT SimGroup::ItemCall(DWORD count, OPCHANDLE* server, HRESULT** errors,
                           const std::function<HRESULT(DWORD, OPCHANDLE)>& each) {
    VELQOR_SIM_ENTER(faults, EnterSimCall());
    return EachItem(*faults, count, server, errors, each);
}

HRESULT SimGroup::EachItem(const SimFaults& faults, DWORD count, OPCHANDLE* server,
                           HRESULT** errors, const std::function<HRESULT(DWORD, OPCHANDLE)>& each) {
    if (!errors) return E_INVALIDARG;
    *errors = nullptr;
    if (count == 0 || !server) return E_INVALIDARG;
    auto* e = TaskArray<HRESULT>(count);
    if (!e) return E_OUTOFMEMORY;
    HRESULT overall = S_OK;
    {
        std::lock_guard lock(mu_);
        for (DWORD i = 0; i < count; ++i) {
            e[i] = FindItem(server[i]) ? each(i, server[i]) : OPC_E_INVALIDHANDLE;
            if (FAILED(e[i])) overall = S_FALSE;
        }
    }
    if (faults.OutArrays == OutArrayFault::Null) {
        CoTaskMemFree(e);
        return S_OK;
    }
    *errors = e;
    return overall;
}

HRESULT SimGroup::RemoveItems(DWORD count, OPCHANDLE* server, HRESULT** errors) {
    return ItemCall(count, server, errors, [&](DWORD, OPCHANDLE h) {
        items_.erase(h);
        return S_OK;
    });
}

HRESULT SimGroup::SetActiveState(DWORD count, OPCHANDLE* server, BOOL active, HRESULT** errors) {
    return ItemCall(count, server, errors, [&](DWORD, OPCHANDLE h) {
        SimGroupItem& item = *FindItem(h);
        // An item that becomes active reports its value with the next data change.
        if (active && !item.Active) item.Sent = false;
        item.Active = active != FALSE;
        return S_OK;
    });
}

HRESULT SimGroup::SetClientHandles(DWORD count, OPCHANDLE* server, OPCHANDLE* client,
                                   HRESULT** errors) {
    if (!client) return E_INVALIDARG;
    return ItemCall(count, server, errors, [&](DWORD i, OPCHANDLE h) {
        FindItem(h)->Client = client[i];
        return S_OK;
    });
}

HRESULT SimGroup::SetDatatypes(DWORD count, OPCHANDLE* server, VARTYPE* types, HRESULT** errors) {
    if (!types) return E_INVALIDARG;
    return ItemCall(count, server, errors, [&](DWORD i, OPCHANDLE h) {
        SimGroupItem& item = *FindItem(h);
        if (!Deliverable(VarTypeOf(space_->Node(item.Node).item.type), types[i]))
            return OPC_E_BADTYPE;
        item.Requested = types[i];
        item.Sent = false;
        return S_OK;
    });
}

HRESULT SimGroup::CreateEnumerator(REFIID riid, LPUNKNOWN* result) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    if (!result) return E_INVALIDARG;
    *result = nullptr;
    if (riid != IID_IEnumOPCItemAttributes) return E_NOINTERFACE;
    std::vector<AttributeCopy> copies;
    {
        std::lock_guard lock(mu_);
        for (const auto& [h, item] : items_) copies.push_back({item, h});
    }
    bool empty = copies.empty();
    auto e = com::MakeObject<ItemAttributesEnumerator>(space_, std::move(copies));
    HRESULT hr = e->QueryInterface(riid, reinterpret_cast<void**>(result));
    return FAILED(hr) ? hr : empty ? S_FALSE : S_OK;
}

// IOPCGroupStateMgt2

HRESULT SimGroup::GetState(DWORD* rate, BOOL* active, LPWSTR* name, LONG* timeBias, FLOAT* deadband,
                           DWORD* lcid, OPCHANDLE* clientGroup, OPCHANDLE* serverGroup) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    if (!rate || !active || !name || !timeBias || !deadband || !lcid || !clientGroup ||
        !serverGroup)
        return E_INVALIDARG;
    std::lock_guard lock(mu_);
    *name = TaskString(settings_.Name);
    if (!*name) return E_OUTOFMEMORY;
    *rate = settings_.UpdateRate;
    *active = settings_.Active ? TRUE : FALSE;
    *timeBias = settings_.TimeBias;
    *deadband = settings_.Deadband;
    *lcid = settings_.Locale;
    *clientGroup = settings_.ClientGroup;
    *serverGroup = settings_.ServerGroup;
    return S_OK;
}

HRESULT SimGroup::SetState(DWORD* requestedRate, DWORD* revisedRate, BOOL* active, LONG* timeBias,
                           FLOAT* deadband, DWORD* lcid, OPCHANDLE* clientGroup) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    if (!revisedRate) return E_INVALIDARG;
    if (deadband && (*deadband < 0 || *deadband > 100)) return E_INVALIDARG;
    std::lock_guard lock(mu_);
    HRESULT hr = S_OK;
    if (requestedRate) {
        settings_.UpdateRate = ReviseRate(*requestedRate);
        if (settings_.UpdateRate != *requestedRate) hr = OPC_S_UNSUPPORTEDRATE;
    }
    if (active) {
        if (*active && !settings_.Active) ResetSent();
        settings_.Active = *active != FALSE;
    }
    if (timeBias) settings_.TimeBias = *timeBias;
    if (deadband) settings_.Deadband = *deadband;
    if (lcid) settings_.Locale = *lcid;
    if (clientGroup) settings_.ClientGroup = *clientGroup;
    *revisedRate = settings_.UpdateRate;
    if (requestedRate) Restart();
    return hr;
}

HRESULT SimGroup::SetName(LPCWSTR name) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    if (!name || !*name) return E_INVALIDARG;
    std::string text = OleStrToText(name);
    auto list = list_.lock();
    if (!list) return Rename(text) ? S_OK : E_FAIL;
    std::lock_guard listLock(list->mu);
    if (!list->NameFree(text, this)) return OPC_E_DUPLICATENAME;
    Rename(text);
    return S_OK;
}

HRESULT SimGroup::CloneGroup(LPCWSTR, REFIID, LPUNKNOWN* result) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    if (result) *result = nullptr;
    return E_NOTIMPL;
}

HRESULT SimGroup::SetKeepAlive(DWORD keepAlive, DWORD* revised) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    if (!revised) return E_INVALIDARG;
    std::lock_guard lock(mu_);
    settings_.KeepAlive = keepAlive == 0 ? 0 : ReviseRate(keepAlive);
    *revised = settings_.KeepAlive;
    return settings_.KeepAlive == keepAlive ? S_OK : OPC_S_UNSUPPORTEDRATE;
}

HRESULT SimGroup::GetKeepAlive(DWORD* keepAlive) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    if (!keepAlive) return E_INVALIDARG;
    std::lock_guard lock(mu_);
    *keepAlive = settings_.KeepAlive;
    return S_OK;
}

// IOPCItemDeadbandMgt

HRESULT SimGroup::SetItemDeadband(DWORD count, OPCHANDLE* server, FLOAT* percent,
                                  HRESULT** errors) {
    if (!percent) return E_INVALIDARG;
    return ItemCall(count, server, errors, [&](DWORD i, OPCHANDLE h) {
        SimGroupItem& item = *FindItem(h);
        if (space_->Node(item.Node).item.euType != xmldasim::EuType::Analog)
            return OPC_E_DEADBANDNOTSUPPORTED;
        if (percent[i] < 0 || percent[i] > 100) return E_INVALIDARG;
        item.Deadband = percent[i];
        return S_OK;
    });
}

HRESULT SimGroup::GetItemDeadband(DWORD count, OPCHANDLE* server, FLOAT** percent,
                                  HRESULT** errors) {
    if (!percent) return E_INVALIDARG;
    *percent = nullptr;
    auto* p = TaskArray<FLOAT>(count);
    if (!p) return E_OUTOFMEMORY;
    HRESULT hr = ItemCall(count, server, errors, [&](DWORD i, OPCHANDLE h) {
        SimGroupItem& item = *FindItem(h);
        if (space_->Node(item.Node).item.euType != xmldasim::EuType::Analog)
            return OPC_E_DEADBANDNOTSUPPORTED;
        if (!item.Deadband) return OPC_E_DEADBANDNOTSET;
        p[i] = *item.Deadband;
        return S_OK;
    });
    if (FAILED(hr) || !*errors) {
        CoTaskMemFree(p);
        return hr;
    }
    *percent = p;
    return hr;
}

HRESULT SimGroup::ClearItemDeadband(DWORD count, OPCHANDLE* server, HRESULT** errors) {
    return ItemCall(count, server, errors, [&](DWORD, OPCHANDLE h) {
        SimGroupItem& item = *FindItem(h);
        if (space_->Node(item.Node).item.euType != xmldasim::EuType::Analog)
            return OPC_E_DEADBANDNOTSUPPORTED;
        if (!item.Deadband) return OPC_E_DEADBANDNOTSET;
        item.Deadband.reset();
        return S_OK;
    });
}

// The server's list of groups

SimGroupList::~SimGroupList() {
    for (auto& [h, g] : groups) g->Detach(false);
    for (auto& g : removedButFiring) g->Detach(false);
}

bool SimGroupList::NameFree(const std::string& name, const SimGroup* except) const {
    return std::none_of(groups.begin(), groups.end(), [&](const auto& g) {
        return g.second.Get() != except && g.second->Name() == name;
    });
}

void SimGroupList::NoteUpdate() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    lastUpdate.store((std::uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

}  // namespace velqor::sim
