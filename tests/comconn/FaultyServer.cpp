#include "FaultyServer.h"

#include <cstring>
#include <memory>
#include <utility>

#include "com/ComValues.h"
#include "com/runtime/ComRuntimeControl.h"

namespace velqor::test {
namespace {

FaultyServer* g_last = nullptr;

std::shared_ptr<sim::ComSimAddressSpace> SharedSpace() {
    static auto space = std::make_shared<sim::ComSimAddressSpace>(20, 100);
    return space;
}

sim::SimServerIdentity IdentityOf(const FaultySwitches& s) {
    sim::SimServerIdentity id;
    id.VendorInfo = "Velqor test server with faults";
    id.MajorVersion = s.Major;
    id.MinorVersion = s.Minor;
    id.BuildNumber = s.Build;
    GetSystemTimeAsFileTime(&id.StartTime);
    return id;
}

using sim::TaskArray;

}  // namespace

FaultySwitches& Switches() {
    static FaultySwitches switches;
    return switches;
}

FaultyServer* LastFaultyServer() { return g_last; }

void RegisterFaultyServer() {
    com::ClassRegistration reg;
    reg.Clsid = CLSID_FaultyServer;
    reg.ProgId = kFaultyProgId;
    reg.Description = "Velqor test server with faults";
    reg.LocalServer = true;
    reg.Create = [](REFIID riid, void** object) {
        auto server = com::MakeObject<FaultyServer>(Switches());
        return server->QueryInterface(riid, object);
    };
    com::RegisterComClass(reg);
}

void UnregisterFaultyServer() { com::UnregisterComClass(CLSID_FaultyServer); }

FaultyServer::FaultyServer(const FaultySwitches& switches) : switches_(switches) {
    state_.Space = SharedSpace();
    state_.Identity = IdentityOf(switches);
    OpcServerPart::Attach(state_);
    OpcCommonPart::Attach(state_);
    ItemPropertiesPart::Attach(state_);
    BrowseSpacePart::Attach(state_);
    ShutdownPart::Attach(state_);
    g_last = this;
}

FaultyServer::~FaultyServer() {
    if (g_last == this) g_last = nullptr;
}

HRESULT FaultyServer::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if ((iid == IID_IOPCBrowse && !switches_.OfferBrowse) ||
        (iid == IID_IConnectionPointContainer && !switches_.OfferConnectionPoints) ||
        (iid == IID_IOPCCommon && !switches_.OfferCommon) ||
        (iid == IID_IOPCBrowseServerAddressSpace && !switches_.OfferBrowseAddressSpace) ||
        (iid == IID_IOPCItemProperties && !switches_.OfferItemProperties))
        return E_NOINTERFACE;
    return PlatformObject::QueryInterface(iid, object);
}

HRESULT FaultyServer::GetStatus(OPCSERVERSTATUS** status) {
    if (switches_.Mode == Fault::StatusFails) return E_FAIL;
    HRESULT hr = OpcServerPart::GetStatus(status);
    if (switches_.Mode == Fault::StatusNull && SUCCEEDED(hr)) {
        CoTaskMemFree((*status)->szVendorInfo);
        CoTaskMemFree(*status);
        *status = nullptr;
    }
    return hr;
}

HRESULT FaultyServer::QueryAvailableProperties(LPWSTR itemId, DWORD* count, DWORD** ids,
                                               LPWSTR** descriptions, VARTYPE** types) {
    HRESULT hr =
        ItemPropertiesPart::QueryAvailableProperties(itemId, count, ids, descriptions, types);
    if (switches_.Mode == Fault::QueryNullDescriptions && hr == S_OK) {
        for (DWORD i = 0; i < *count; ++i) CoTaskMemFree((*descriptions)[i]);
        CoTaskMemFree(*descriptions);
        *descriptions = nullptr;
    }
    return hr;
}

HRESULT FaultyServer::GetItemProperties(LPWSTR itemId, DWORD count, DWORD* ids, VARIANT** values,
                                        HRESULT** errors) {
    if (switches_.Mode == Fault::ValuesFail) return E_FAIL;
    HRESULT hr = ItemPropertiesPart::GetItemProperties(itemId, count, ids, values, errors);
    if (switches_.Mode == Fault::ValuesNull && SUCCEEDED(hr)) {
        for (DWORD i = 0; i < count; ++i) VariantClear(&(*values)[i]);
        CoTaskMemFree(*values);
        CoTaskMemFree(*errors);
        *values = nullptr;
        *errors = nullptr;
        return S_OK;
    }
    return hr;
}

HRESULT FaultyServer::ItemProperties(LPWSTR itemId, bool withValues, DWORD propertyCount,
                                     const DWORD* propertyIds, OPCITEMPROPERTIES& out) {
    DWORD count = 0;
    DWORD* ids = nullptr;
    LPWSTR* texts = nullptr;
    VARTYPE* types = nullptr;
    HRESULT hr = ItemPropertiesPart::QueryAvailableProperties(itemId, &count, &ids, &texts, &types);
    if (FAILED(hr)) return hr;
    std::vector<DWORD> wanted;  // the asked properties the item has (all when none is asked)
    for (DWORD i = 0; i < count; ++i) {
        bool asked = propertyCount == 0;
        for (DWORD k = 0; k < propertyCount; ++k) asked = asked || propertyIds[k] == ids[i];
        if (asked) wanted.push_back(i);
    }
    out.dwNumProperties = DWORD(wanted.size());
    out.pItemProperties = TaskArray<OPCITEMPROPERTY>(out.dwNumProperties);
    for (size_t n = 0; n < wanted.size(); ++n) {
        OPCITEMPROPERTY& p = out.pItemProperties[n];
        const DWORD i = wanted[n];
        VariantInit(&p.vValue);
        p.dwPropertyID = ids[i];
        p.vtDataType = types[i];
        p.szDescription = std::exchange(texts[i], nullptr);
        VARIANT* values = nullptr;
        HRESULT* errors = nullptr;
        DWORD id = ids[i];
        if (withValues &&
            SUCCEEDED(ItemPropertiesPart::GetItemProperties(itemId, 1, &id, &values, &errors))) {
            p.vValue = values[0];
            p.hrErrorID = errors[0];
            CoTaskMemFree(values);
            CoTaskMemFree(errors);
        }
    }
    for (DWORD i = 0; i < count; ++i) CoTaskMemFree(texts[i]);
    CoTaskMemFree(ids);
    CoTaskMemFree(texts);
    CoTaskMemFree(types);
    return S_OK;
}

HRESULT FaultyServer::GetProperties(DWORD itemCount, LPWSTR* itemIds, BOOL withValues,
                                    DWORD propertyCount, DWORD* propertyIds,
                                    OPCITEMPROPERTIES** results) {
    *results = nullptr;
    const Fault mode = switches_.Mode;
    if (mode == Fault::BrowseFails) return E_FAIL;
    if (mode == Fault::BrowseNullResults) return S_OK;
    auto* out = TaskArray<OPCITEMPROPERTIES>(itemCount);
    for (DWORD i = 0; i < itemCount; ++i) {
        if (mode == Fault::BrowseEmpty) continue;
        if (mode == Fault::BrowseItemError) {
            out[i].hrErrorID = OPC_E_UNKNOWNITEMID;
            continue;
        }
        if (mode == Fault::BrowseNullProperties) {
            out[i].dwNumProperties = 3;
            continue;
        }
        out[i].hrErrorID =
            ItemProperties(itemIds[i], withValues != FALSE, propertyCount, propertyIds, out[i]);
        if (mode == Fault::BrowseBadRightsAndPid && out[i].dwNumProperties > 1) {
            out[i].pItemProperties[0].hrErrorID = OPC_E_BADRIGHTS;
            out[i].pItemProperties[1].hrErrorID = OPC_E_INVALID_PID;
        }
    }
    *results = out;
    return S_OK;
}

}  // namespace velqor::test
