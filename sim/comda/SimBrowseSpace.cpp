// The DA 1.0 and 2.0 address-space interfaces: browsing with a position kept on the server, and
// item properties one item at a time.
#include "SimServerParts.h"
#include "com/ComValues.h"
#include "com/runtime/ComEnumerators.h"
#include "com/runtime/ComText.h"

namespace velqor::sim {
namespace {

std::string Utf8(LPCWSTR text) { return velqor::OleStrToText(text); }

bool Refused(const SimFaults& faults, const std::string& branchId) {
    return faults.RefusedBrowsePositions.count(branchId) != 0;
}

// A string enumerator that never ends, for the endless-browse switch.
class EndlessStrings : public com::StringEnumerator {
  public:
    explicit EndlessStrings(std::vector<std::u16string> names)
        : com::StringEnumerator(names), names_(std::move(names)) {}
    HRESULT STDMETHODCALLTYPE Next(ULONG celt, LPOLESTR* rgelt, ULONG* fetched) override {
        if (fetched) *fetched = 0;
        if (!rgelt || names_.empty()) return E_POINTER;
        for (ULONG i = 0; i < celt; ++i)
            if (FAILED(com::TaskStringCopy::Out(names_[(next_ + i) % names_.size()], rgelt[i]))) {
                while (i > 0) com::TaskStringCopy::Free(rgelt[--i]);
                return E_OUTOFMEMORY;
            }
        next_ += celt;
        if (fetched) *fetched = celt;
        return S_OK;
    }

  private:
    std::vector<std::u16string> names_;
    size_t next_ = 0;
};

}  // namespace

// IOPCItemProperties

HRESULT ItemPropertiesPart::QueryAvailableProperties(LPWSTR itemId, DWORD* count, DWORD** ids,
                                                     LPWSTR** descriptions, VARTYPE** types) {
    VELQOR_SIM_ENTER(faults, State().Enter());
    if (!count || !ids || !descriptions || !types) return E_INVALIDARG;
    *count = 0;
    *ids = nullptr;
    *descriptions = nullptr;
    *types = nullptr;
    int node;
    if (HRESULT hr = State().FindItem(itemId, node); FAILED(hr)) return hr;
    if (faults->PropertyErrorItems.count(Utf8(itemId))) return kSimItemFault;
    std::vector<DWORD> found = Space().AvailableProperties(node);
    if (faults->OutArrays == OutArrayFault::Null) {
        *count = static_cast<DWORD>(found.size());
        return S_OK;
    }
    auto* outIds = TaskArray<DWORD>(found.size());
    auto* outTexts = TaskArray<LPWSTR>(found.size());
    auto* outTypes = TaskArray<VARTYPE>(found.size());
    bool ok = outIds && outTexts && outTypes;
    for (std::size_t i = 0; ok && i < found.size(); ++i) {
        const ComPropertyDef* def = FindComProperty(found[i]);
        outIds[i] = found[i];
        outTypes[i] = def->Type;
        outTexts[i] = TaskString(def->Description);
        ok = outTexts[i] != nullptr;
    }
    if (!ok) {
        for (std::size_t i = 0; outTexts && i < found.size(); ++i) CoTaskMemFree(outTexts[i]);
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

HRESULT ItemPropertiesPart::GetItemProperties(LPWSTR itemId, DWORD count, DWORD* ids,
                                              VARIANT** values, HRESULT** errors) {
    VELQOR_SIM_ENTER(faults, State().Enter());
    if (!ClearOutPointers(values, errors)) return E_INVALIDARG;
    if (count == 0 || !ids) return E_INVALIDARG;
    int node;
    if (HRESULT hr = State().FindItem(itemId, node); FAILED(hr)) return hr;
    if (faults->OutArrays == OutArrayFault::Null) return S_OK;
    VARIANT* outValues;
    HRESULT* outErrors;
    if (!TaskArrays(count, outValues, outErrors)) return E_OUTOFMEMORY;
    bool failItem = faults->SFalseWithErrors || faults->PropertyErrorItems.count(Utf8(itemId));
    HRESULT result = S_OK;
    for (DWORD i = 0; i < count; ++i) {
        VariantInit(&outValues[i]);
        outErrors[i] = failItem ? kSimItemFault : Space().Property(node, ids[i], outValues[i]);
        if (FAILED(outErrors[i])) result = S_FALSE;
    }
    *values = outValues;
    *errors = outErrors;
    return result;
}

HRESULT ItemPropertiesPart::LookupItemIDs(LPWSTR itemId, DWORD count, DWORD* ids,
                                          LPWSTR** newItemIds, HRESULT** errors) {
    VELQOR_SIM_ENTER(faults, State().Enter());
    if (!ClearOutPointers(newItemIds, errors)) return E_INVALIDARG;
    if (count == 0 || !ids) return E_INVALIDARG;
    int node;
    if (HRESULT hr = State().FindItem(itemId, node); FAILED(hr)) return hr;
    if (faults->OutArrays == OutArrayFault::Null) return S_OK;
    LPWSTR* outIds;
    HRESULT* outErrors;
    if (!TaskArrays(count, outIds, outErrors)) return E_OUTOFMEMORY;
    // No property of this plant is an item of its own.
    for (DWORD i = 0; i < count; ++i)
        outErrors[i] = faults->SFalseWithErrors ? kSimItemFault : OPC_E_INVALID_PID;
    *newItemIds = outIds;
    *errors = outErrors;
    return S_FALSE;
}

// IOPCBrowseServerAddressSpace

HRESULT BrowseSpacePart::QueryOrganization(OPCNAMESPACETYPE* type) {
    if (!State().Enter()) return RPC_E_CALL_CANCELED;
    if (!type) return E_INVALIDARG;
    *type = State().Identity.FlatSpace ? OPC_NS_FLAT : OPC_NS_HIERARCHIAL;
    return S_OK;
}

HRESULT BrowseSpacePart::ChangeBrowsePosition(OPCBROWSEDIRECTION direction, LPCWSTR name) {
    VELQOR_SIM_ENTER(faults, State().Enter());
    if (State().Identity.FlatSpace) return E_FAIL;  // one level: nowhere to move
    const ComSimAddressSpace& space = Space();
    int target = -1;
    switch (direction) {
        case OPC_BROWSE_UP:
            if (position_ == space.Root()) return E_FAIL;
            target = space.Node(position_).parent;
            break;
        case OPC_BROWSE_DOWN: {
            std::string child = Utf8(name);
            for (int c : space.Node(position_).children)
                if (space.Node(c).name == child && !space.IsItem(c)) target = c;
            break;
        }
        case OPC_BROWSE_TO: {
            if (faults->RefuseBrowseTo) return E_NOTIMPL;
            int n = space.Find(Utf8(name));
            if (n >= 0 && !space.IsItem(n)) target = n;
            break;
        }
    }
    if (target < 0) return E_INVALIDARG;
    if (Refused(*faults, space.Node(target).id)) return E_ACCESSDENIED;
    position_ = target;
    return S_OK;
}

HRESULT BrowseSpacePart::BrowseOPCItemIDs(OPCBROWSETYPE filterType, LPCWSTR criteria,
                                          VARTYPE dataType, DWORD accessRights,
                                          IEnumString** result) {
    VELQOR_SIM_ENTER(faults, State().Enter());
    if (!result) return E_INVALIDARG;
    *result = nullptr;
    if (filterType != OPC_BRANCH && filterType != OPC_LEAF && filterType != OPC_FLAT)
        return E_INVALIDARG;
    const ComSimAddressSpace& space = Space();
    if (Refused(*faults, space.Node(position_).id)) return E_ACCESSDENIED;
    if (faults->OutArrays == OutArrayFault::Null) return S_OK;
    std::string filter = Utf8(criteria);
    auto itemMatches = [&](const xmldasim::Node& n) {
        if (dataType != VT_EMPTY && VarTypeOf(n.item.type) != dataType) return false;
        DWORD rights = AccessRightsOf(n.item.access);
        return (rights & accessRights) == accessRights;
    };
    bool flat = State().Identity.FlatSpace;
    std::vector<std::u16string> names;
    if (flat && filterType == OPC_BRANCH) {
        // no branches
    } else if (filterType == OPC_FLAT || flat) {
        // Every item below the position, by full ID (the filter applies to that ID); refused
        // branches keep their items to themselves, without a word, as a server's flat list
        // may. A flat space has no branches to refuse.
        std::vector<int> pending{position_};
        while (!pending.empty()) {
            int n = pending.back();
            pending.pop_back();
            const auto& node = space.Node(n);
            if (node.isItem) {
                if (itemMatches(node) && MatchesBrowseFilter(node.id, filter))
                    names.push_back(com::Utf8ToUtf16(node.id));
                continue;
            }
            if (n != position_ && !flat && Refused(*faults, node.id)) continue;
            pending.insert(pending.end(), node.children.rbegin(), node.children.rend());
        }
    } else {
        for (int c : space.Node(position_).children) {
            const auto& node = space.Node(c);
            if (node.isItem != (filterType == OPC_LEAF)) continue;
            if (node.isItem && !itemMatches(node)) continue;
            if (MatchesBrowseFilter(node.name, filter))
                names.push_back(com::Utf8ToUtf16(node.name));
        }
    }
    bool empty = names.empty();
    if (faults->EndlessBrowse && !empty) {
        *result = com::MakeObject<EndlessStrings>(std::move(names)).Detach();
        return S_OK;
    }
    *result = com::MakeObject<com::StringEnumerator>(std::move(names)).Detach();
    return empty ? S_FALSE : S_OK;
}

HRESULT BrowseSpacePart::GetItemID(LPWSTR itemDataId, LPWSTR* itemId) {
    VELQOR_SIM_ENTER(faults, State().Enter());
    if (!itemId) return E_INVALIDARG;
    *itemId = nullptr;
    std::string name = Utf8(itemDataId);
    const auto& here = Space().Node(position_);
    std::string full = name.empty()      ? here.id
                       : here.id.empty() ? name
                                         : here.id + kItemSeparator + name;
    if (Space().Find(full) < 0) return E_INVALIDARG;
    if (faults->ItemIDErrorPositions.count(full)) return E_FAIL;
    *itemId = TaskString(full);
    return *itemId ? S_OK : E_OUTOFMEMORY;
}

HRESULT BrowseSpacePart::BrowseAccessPaths(LPCWSTR, IEnumString** result) {
    if (!State().Enter()) return RPC_E_CALL_CANCELED;
    if (result) *result = nullptr;
    return E_NOTIMPL;  // the plant has no access paths
}

}  // namespace velqor::sim
