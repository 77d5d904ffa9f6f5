#include "SimDaServer.h"

#include <algorithm>
#include <cstring>

#include "com/ComValues.h"
#include "com/runtime/ComText.h"

namespace velqor::sim {
namespace {

// The server's own texts for the codes its interfaces return; other codes are left to the
// client's system texts.
const char* OpcErrorText(HRESULT error) {
    struct Text {
        HRESULT code;
        const char* text;
    };
    static const Text texts[] = {
        {OPC_E_INVALIDHANDLE, "The value of the handle is invalid."},
        {OPC_E_BADTYPE,
         "The server cannot convert the data between the requested data type "
         "and the canonical data type."},
        {OPC_E_PUBLIC, "The requested operation cannot be done on a public group."},
        {OPC_E_BADRIGHTS, "The item's access rights do not allow the operation."},
        {OPC_E_UNKNOWNITEMID, "The item is no longer available in the server address space."},
        {OPC_E_INVALIDITEMID, "The item definition does not conform to the server's syntax."},
        {OPC_E_INVALIDFILTER, "The filter string is not valid."},
        {OPC_E_UNKNOWNPATH, "The item's access path is not known to the server."},
        {OPC_E_RANGE, "The value was out of range."},
        {OPC_E_DUPLICATENAME, "Duplicate name not allowed."},
        {OPC_S_UNSUPPORTEDRATE, "The server does not support the requested data rate."},
        {OPC_S_CLAMP, "A value passed to write was accepted but the output was clamped."},
        {OPC_S_INUSE, "The operation cannot be performed because the object is referenced."},
        {OPC_E_INVALIDCONFIGFILE, "The server's configuration file is an invalid format."},
        {OPC_E_NOTFOUND, "The requested object was not found."},
        {OPC_E_INVALID_PID, "The specified property ID is not valid for the item."},
        {E_NOTIMPL, "The simulated server does not implement this operation."},
    };
    for (const auto& t : texts)
        if (t.code == error) return t.text;
    return nullptr;
}

bool IsSupportedLocale(LCID lcid) {
    return lcid == 0x0409 || lcid == 0x0400 || lcid == 0x0800 || lcid == 0;
}

template <class T>
T* TaskArray(std::size_t count) {
    return static_cast<T*>(CoTaskMemAlloc(std::max<std::size_t>(count, 1) * sizeof(T)));
}

std::string Utf8(LPCWSTR text) { return text ? com::Utf16ToUtf8(text) : std::string{}; }

}  // namespace

bool MatchesBrowseFilter(std::string_view name, std::string_view filter) {
    if (filter.empty()) return true;
    std::size_t n = 0, f = 0, star = std::string_view::npos, mark = 0;
    while (n < name.size()) {
        if (f < filter.size() && (filter[f] == '?' || filter[f] == name[n])) {
            ++n, ++f;
        } else if (f < filter.size() && filter[f] == '*') {
            star = f++;
            mark = n;
        } else if (star != std::string_view::npos) {
            f = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (f < filter.size() && filter[f] == '*') ++f;
    return f == filter.size();
}

SimDaServer::SimDaServer(std::shared_ptr<ComSimAddressSpace> space, SimServerIdentity identity)
    : space_(std::move(space)),
      identity_(std::move(identity)),
      shutdownPoint_(*this, IID_IOPCShutdown),
      callbacks_(EventLoop::Default()) {
    points_.Add(shutdownPoint_);
}

SimDaServer::~SimDaServer() { shutdownPoint_.Clear(); }

void SimDaServer::RequestShutdown(const std::string& reason) {
    callbacks_.Post([this, reason] {
        std::u16string text = com::Utf8ToUtf16(reason);
        for (const auto& sink : shutdownPoint_.Sinks<IOPCShutdown>())
            sink->ShutdownRequest(text.c_str());
    });
}

// IOPCServer

HRESULT SimDaServer::AddGroup(LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD,
                              OPCHANDLE* serverGroup, DWORD* revisedRate, REFIID,
                              LPUNKNOWN* group) {
    if (serverGroup) *serverGroup = 0;
    if (revisedRate) *revisedRate = 0;
    if (group) *group = nullptr;
    return E_NOTIMPL;
}

HRESULT SimDaServer::GetErrorString(HRESULT error, LCID locale, LPWSTR* text) {
    if (!text) return E_INVALIDARG;
    *text = nullptr;
    if (!IsSupportedLocale(locale)) return E_INVALIDARG;
    const char* t = OpcErrorText(error);
    if (!t) return E_INVALIDARG;
    *text = velqor::AllocTaskString(t);
    return *text ? S_OK : E_OUTOFMEMORY;
}

HRESULT SimDaServer::GetGroupByName(LPCWSTR, REFIID, LPUNKNOWN* group) {
    if (group) *group = nullptr;
    return E_INVALIDARG;
}

HRESULT SimDaServer::GetStatus(OPCSERVERSTATUS** status) {
    if (!status) return E_INVALIDARG;
    *status = nullptr;
    auto* s = TaskArray<OPCSERVERSTATUS>(1);
    if (!s) return E_OUTOFMEMORY;
    std::memset(static_cast<void*>(s), 0, sizeof *s);
    s->ftStartTime = identity_.StartTime;
    GetSystemTimeAsFileTime(&s->ftCurrentTime);
    s->dwServerState = OPC_STATUS_RUNNING;
    s->dwBandWidth = 0xFFFFFFFFu;  // not known
    s->wMajorVersion = identity_.MajorVersion;
    s->wMinorVersion = identity_.MinorVersion;
    s->wBuildNumber = identity_.BuildNumber;
    s->szVendorInfo = velqor::AllocTaskString(identity_.VendorInfo);
    if (!s->szVendorInfo) {
        CoTaskMemFree(s);
        return E_OUTOFMEMORY;
    }
    *status = s;
    return S_OK;
}

HRESULT SimDaServer::RemoveGroup(OPCHANDLE, BOOL) { return E_INVALIDARG; }

HRESULT SimDaServer::CreateGroupEnumerator(OPCENUMSCOPE, REFIID, LPUNKNOWN* result) {
    if (result) *result = nullptr;
    return E_NOTIMPL;
}

// IOPCCommon

HRESULT SimDaServer::SetLocaleID(LCID lcid) {
    if (!IsSupportedLocale(lcid)) return E_INVALIDARG;
    locale_ = lcid;
    return S_OK;
}

HRESULT SimDaServer::GetLocaleID(LCID* lcid) {
    if (!lcid) return E_INVALIDARG;
    *lcid = locale_;
    return S_OK;
}

HRESULT SimDaServer::QueryAvailableLocaleIDs(DWORD* count, LCID** lcids) {
    if (!count || !lcids) return E_INVALIDARG;
    *count = 0;
    *lcids = TaskArray<LCID>(1);
    if (!*lcids) return E_OUTOFMEMORY;
    (*lcids)[0] = 0x0409;
    *count = 1;
    return S_OK;
}

HRESULT SimDaServer::GetErrorString(HRESULT error, LPWSTR* text) {
    return GetErrorString(error, locale_, text);
}

HRESULT SimDaServer::SetClientName(LPCWSTR name) {
    clientName_ = Utf8(name);
    return S_OK;
}

// IOPCItemProperties

HRESULT SimDaServer::FindItem(LPCWSTR itemId, int& node) const {
    node = -1;
    if (!itemId || !*itemId) return OPC_E_INVALIDITEMID;
    int n = space_->Find(Utf8(itemId));
    if (n < 0 || !space_->IsItem(n)) return OPC_E_UNKNOWNITEMID;
    node = n;
    return S_OK;
}

HRESULT SimDaServer::QueryAvailableProperties(LPWSTR itemId, DWORD* count, DWORD** ids,
                                              LPWSTR** descriptions, VARTYPE** types) {
    if (!count || !ids || !descriptions || !types) return E_INVALIDARG;
    *count = 0;
    *ids = nullptr;
    *descriptions = nullptr;
    *types = nullptr;
    int node;
    if (HRESULT hr = FindItem(itemId, node); FAILED(hr)) return hr;
    std::vector<DWORD> found = space_->AvailableProperties(node);
    auto* outIds = TaskArray<DWORD>(found.size());
    auto* outTexts = TaskArray<LPWSTR>(found.size());
    auto* outTypes = TaskArray<VARTYPE>(found.size());
    bool ok = outIds && outTexts && outTypes;
    for (std::size_t i = 0; ok && i < found.size(); ++i) {
        const ComPropertyDef* def = FindComProperty(found[i]);
        outIds[i] = found[i];
        outTypes[i] = def->Type;
        outTexts[i] = velqor::AllocTaskString(def->Description);
        if (!outTexts[i]) {
            while (i > 0) CoTaskMemFree(outTexts[--i]);
            ok = false;
        }
    }
    if (!ok) {
        CoTaskMemFree(outIds);
        CoTaskMemFree(outTexts);
        CoTaskMemFree(outTypes);
        return E_OUTOFMEMORY;
    }
    *count = static_cast<DWORD>(found.size());
    *ids = outIds;
    *descriptions = outTexts;
    *types = outTypes;
    return S_OK;
}

HRESULT SimDaServer::GetItemProperties(LPWSTR itemId, DWORD count, DWORD* ids, VARIANT** values,
                                       HRESULT** errors) {
    if (!values || !errors) return E_INVALIDARG;
    *values = nullptr;
    *errors = nullptr;
    if (count == 0 || !ids) return E_INVALIDARG;
    int node;
    if (HRESULT hr = FindItem(itemId, node); FAILED(hr)) return hr;
    auto* outValues = TaskArray<VARIANT>(count);
    auto* outErrors = TaskArray<HRESULT>(count);
    if (!outValues || !outErrors) {
        CoTaskMemFree(outValues);
        CoTaskMemFree(outErrors);
        return E_OUTOFMEMORY;
    }
    HRESULT result = S_OK;
    for (DWORD i = 0; i < count; ++i) {
        VariantInit(&outValues[i]);
        outErrors[i] = space_->Property(node, ids[i], outValues[i]);
        if (FAILED(outErrors[i])) result = S_FALSE;
    }
    *values = outValues;
    *errors = outErrors;
    return result;
}

HRESULT SimDaServer::LookupItemIDs(LPWSTR itemId, DWORD count, DWORD* ids, LPWSTR** newItemIds,
                                   HRESULT** errors) {
    if (!newItemIds || !errors) return E_INVALIDARG;
    *newItemIds = nullptr;
    *errors = nullptr;
    if (count == 0 || !ids) return E_INVALIDARG;
    int node;
    if (HRESULT hr = FindItem(itemId, node); FAILED(hr)) return hr;
    auto* outIds = TaskArray<LPWSTR>(count);
    auto* outErrors = TaskArray<HRESULT>(count);
    if (!outIds || !outErrors) {
        CoTaskMemFree(outIds);
        CoTaskMemFree(outErrors);
        return E_OUTOFMEMORY;
    }
    // No property of this plant is an item of its own.
    for (DWORD i = 0; i < count; ++i) {
        outIds[i] = nullptr;
        outErrors[i] = OPC_E_INVALID_PID;
    }
    *newItemIds = outIds;
    *errors = outErrors;
    return S_FALSE;
}

// IOPCBrowseServerAddressSpace

HRESULT SimDaServer::QueryOrganization(OPCNAMESPACETYPE* type) {
    if (!type) return E_INVALIDARG;
    *type = identity_.FlatSpace ? OPC_NS_FLAT : OPC_NS_HIERARCHIAL;
    return S_OK;
}

HRESULT SimDaServer::ChangeBrowsePosition(OPCBROWSEDIRECTION direction, LPCWSTR name) {
    if (identity_.FlatSpace) return E_FAIL;  // one level: nowhere to move
    switch (direction) {
        case OPC_BROWSE_UP:
            if (position_ == space_->Root()) return E_FAIL;
            position_ = space_->Node(position_).parent;
            return S_OK;
        case OPC_BROWSE_DOWN: {
            std::string child = Utf8(name);
            for (int c : space_->Node(position_).children) {
                if (space_->Node(c).name == child && !space_->IsItem(c)) {
                    position_ = c;
                    return S_OK;
                }
            }
            return E_INVALIDARG;
        }
        case OPC_BROWSE_TO: {
            int n = space_->Find(Utf8(name));
            if (n < 0 || space_->IsItem(n)) return E_INVALIDARG;
            position_ = n;
            return S_OK;
        }
    }
    return E_INVALIDARG;
}

HRESULT SimDaServer::BrowseOPCItemIDs(OPCBROWSETYPE filterType, LPCWSTR criteria, VARTYPE dataType,
                                      DWORD accessRights, IEnumString** result) {
    if (!result) return E_INVALIDARG;
    *result = nullptr;
    if (filterType != OPC_BRANCH && filterType != OPC_LEAF && filterType != OPC_FLAT)
        return E_INVALIDARG;
    std::string filter = Utf8(criteria);
    auto itemMatches = [&](const xmldasim::Node& n) {
        if (dataType != VT_EMPTY && VarTypeOf(n.item.type) != dataType) return false;
        DWORD rights = AccessRightsOf(n.item.access);
        return (rights & accessRights) == accessRights;
    };
    std::vector<std::u16string> names;
    if (identity_.FlatSpace && filterType == OPC_BRANCH) {
        // no branches
    } else if (filterType == OPC_FLAT || identity_.FlatSpace) {
        // Every item below the position, by full ID (the filter applies to that ID).
        std::vector<int> pending{position_};
        while (!pending.empty()) {
            int n = pending.back();
            pending.pop_back();
            const auto& node = space_->Node(n);
            if (node.isItem) {
                if (itemMatches(node) && MatchesBrowseFilter(node.id, filter))
                    names.push_back(com::Utf8ToUtf16(node.id));
                continue;
            }
            pending.insert(pending.end(), node.children.rbegin(), node.children.rend());
        }
    } else {
        for (int c : space_->Node(position_).children) {
            const auto& node = space_->Node(c);
            if (node.isItem != (filterType == OPC_LEAF)) continue;
            if (node.isItem && !itemMatches(node)) continue;
            if (MatchesBrowseFilter(node.name, filter))
                names.push_back(com::Utf8ToUtf16(node.name));
        }
    }
    bool empty = names.empty();
    *result = com::MakeObject<com::StringEnumerator>(std::move(names)).Detach();
    return empty ? S_FALSE : S_OK;
}

HRESULT SimDaServer::GetItemID(LPWSTR itemDataId, LPWSTR* itemId) {
    if (!itemId) return E_INVALIDARG;
    *itemId = nullptr;
    std::string name = Utf8(itemDataId);
    const auto& here = space_->Node(position_);
    std::string full = name.empty()      ? here.id
                       : here.id.empty() ? name
                                         : here.id + kItemSeparator + name;
    if (space_->Find(full) < 0) return E_INVALIDARG;
    *itemId = velqor::AllocTaskString(full);
    return *itemId ? S_OK : E_OUTOFMEMORY;
}

HRESULT SimDaServer::BrowseAccessPaths(LPCWSTR, IEnumString** result) {
    if (result) *result = nullptr;
    return E_NOTIMPL;  // the plant has no access paths
}

// IConnectionPointContainer

HRESULT SimDaServer::EnumConnectionPoints(IEnumConnectionPoints** points) {
    return points_.Enum(points);
}

HRESULT SimDaServer::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
    return points_.Find(riid, point);
}

}  // namespace velqor::sim
