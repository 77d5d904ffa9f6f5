// IOPCServer's group calls: adding, finding, removing and listing the server object's private
// groups. Public groups are not offered.
#include "SimServerParts.h"
#include "com/ComValues.h"
#include "com/runtime/ComEnumerators.h"
#include "com/runtime/ComText.h"

namespace velqor::sim {

HRESULT OpcServerPart::AddGroup(LPCWSTR name, BOOL active, DWORD requestedRate,
                                OPCHANDLE clientGroup, LONG* timeBias, FLOAT* deadband, DWORD lcid,
                                OPCHANDLE* serverGroup, DWORD* revisedRate, REFIID riid,
                                LPUNKNOWN* group) {
    if (!State().Enter()) return RPC_E_CALL_CANCELED;
    if (serverGroup) *serverGroup = 0;
    if (revisedRate) *revisedRate = 0;
    if (group) *group = nullptr;
    if (!serverGroup || !revisedRate || !group) return E_INVALIDARG;
    if (deadband && (*deadband < 0 || *deadband > 100)) return E_INVALIDARG;
    SimGroupList& list = *State().Groups;
    std::lock_guard lock(list.mu);
    OPCHANDLE handle = list.next;
    SimGroupSettings s;
    s.Name = name && *name ? OleStrToText(name) : "Group" + std::to_string(handle);
    if (!list.NameFree(s.Name, nullptr)) return OPC_E_DUPLICATENAME;
    s.Active = active != FALSE;
    s.UpdateRate = SimGroup::ReviseRate(requestedRate);
    s.ClientGroup = clientGroup;
    s.ServerGroup = handle;
    s.TimeBias = timeBias ? *timeBias : 0;
    s.Deadband = deadband ? *deadband : 0;
    s.Locale = lcid;
    auto g =
        com::MakeObject<SimGroup>(State().Space, State().Groups, State().Identity.Generation, s);
    HRESULT hr = g->QueryInterface(riid, reinterpret_cast<void**>(group));
    if (FAILED(hr)) {
        g->Detach(false);
        return hr;
    }
    list.groups.emplace(handle, g);
    ++list.next;
    *serverGroup = handle;
    *revisedRate = s.UpdateRate;
    return s.UpdateRate == requestedRate ? S_OK : OPC_S_UNSUPPORTEDRATE;
}

HRESULT OpcServerPart::GetGroupByName(LPCWSTR name, REFIID riid, LPUNKNOWN* group) {
    if (!State().Enter()) return RPC_E_CALL_CANCELED;
    if (!group) return E_INVALIDARG;
    *group = nullptr;
    if (!name) return E_INVALIDARG;
    std::string text = OleStrToText(name);
    SimGroupList& list = *State().Groups;
    std::lock_guard lock(list.mu);
    for (const auto& [h, g] : list.groups)
        if (g->Name() == text) return g->QueryInterface(riid, reinterpret_cast<void**>(group));
    return E_INVALIDARG;
}

HRESULT OpcServerPart::RemoveGroup(OPCHANDLE serverGroup, BOOL force) {
    VELQOR_SIM_ENTER(faults, State().Enter());
    com::ComPtr<SimGroup> g;
    {
        SimGroupList& list = *State().Groups;
        std::lock_guard lock(list.mu);
        auto it = list.groups.find(serverGroup);
        if (it == list.groups.end()) return E_INVALIDARG;
        g = std::move(it->second);
        list.groups.erase(it);
        if (faults->CallbacksAfterRemove) list.removedButFiring.push_back(g);
    }
    g->Detach(faults->CallbacksAfterRemove);
    // Besides this function's reference, does the client still hold the group?
    bool inUse = g->RefCount() > 1 + (faults->CallbacksAfterRemove ? 1 : 0);
    return inUse && !force ? OPC_S_INUSE : S_OK;
}

HRESULT OpcServerPart::CreateGroupEnumerator(OPCENUMSCOPE scope, REFIID riid, LPUNKNOWN* result) {
    if (!State().Enter()) return RPC_E_CALL_CANCELED;
    if (!result) return E_INVALIDARG;
    *result = nullptr;
    if (scope < OPC_ENUM_PRIVATE_CONNECTIONS || scope > OPC_ENUM_ALL) return E_INVALIDARG;
    bool privateOnes = scope != OPC_ENUM_PUBLIC_CONNECTIONS && scope != OPC_ENUM_PUBLIC;
    std::vector<com::ComPtr<::IUnknown>> groups;
    std::vector<std::u16string> names;
    if (privateOnes) {
        SimGroupList& list = *State().Groups;
        std::lock_guard lock(list.mu);
        for (const auto& [h, g] : list.groups) {
            groups.emplace_back(g->ControllingUnknown());
            names.push_back(com::Utf8ToUtf16(g->Name()));
        }
    }
    bool empty = groups.empty();
    HRESULT hr;
    if (riid == IID_IEnumUnknown)
        hr = com::MakeObject<com::UnknownEnumerator>(std::move(groups))
                 ->QueryInterface(riid, reinterpret_cast<void**>(result));
    else if (riid == IID_IEnumString)
        hr = com::MakeObject<com::StringEnumerator>(std::move(names))
                 ->QueryInterface(riid, reinterpret_cast<void**>(result));
    else
        return E_NOINTERFACE;
    return FAILED(hr) ? hr : empty ? S_FALSE : S_OK;
}

}  // namespace velqor::sim
