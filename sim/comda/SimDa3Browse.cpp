// IOPCBrowse: stateless browsing by item ID with continuation points, and item properties of
// many items at once, over the same plant and property table as the DA 2.0 interfaces.
#include <algorithm>
#include <charconv>

#include "SimServerParts.h"
#include "com/ComValues.h"
#include "com/OpcDaFree.h"

namespace velqor::sim {
namespace {

void FreeElements(OPCBROWSEELEMENT* elements, DWORD count) {
    for (DWORD i = 0; elements && i < count; ++i) {
        FreeBrowseElement(elements[i]);
    }
    CoTaskMemFree(elements);
}

// Fills `out` (zeroed) with the properties `ids` of one item, in that order; a property the
// item lacks is answered with OPC_E_INVALID_PID. Only running out of memory fails the call.
HRESULT FillProperties(const ComSimAddressSpace& space, int node, const std::vector<DWORD>& ids,
                       bool withValues, OPCITEMPROPERTIES& out) {
    out.hrErrorID = S_OK;
    if (ids.empty()) return S_OK;
    std::vector<DWORD> available = space.AvailableProperties(node);
    out.pItemProperties = TaskArray<OPCITEMPROPERTY>(ids.size());
    if (!out.pItemProperties) return E_OUTOFMEMORY;
    for (DWORD id : ids) {
        OPCITEMPROPERTY& p = out.pItemProperties[out.dwNumProperties++];
        p.dwPropertyID = id;
        const ComPropertyDef* def = FindComProperty(id);
        if (!def || std::find(available.begin(), available.end(), id) == available.end()) {
            p.hrErrorID = OPC_E_INVALID_PID;
            out.hrErrorID = S_FALSE;
            continue;
        }
        p.vtDataType = def->Type;
        p.szDescription = TaskString(def->Description);
        if (!p.szDescription) return E_OUTOFMEMORY;
        if (withValues) {
            p.hrErrorID = space.Property(node, id, p.vValue);
            if (p.hrErrorID == E_OUTOFMEMORY) return E_OUTOFMEMORY;
            if (FAILED(p.hrErrorID)) out.hrErrorID = S_FALSE;
        }
    }
    return S_OK;
}

// The properties one item answers with: those asked for, or all it has.
std::vector<DWORD> WantedProperties(const ComSimAddressSpace& space, int node, bool all,
                                    DWORD count, const DWORD* ids, const SimFaults& faults) {
    std::vector<DWORD> wanted;
    if (all)
        wanted = space.AvailableProperties(node);
    else if (count > 0)
        wanted.assign(ids, ids + count);
    if (count > 0 && !all && faults.OutArrays == OutArrayFault::Short) wanted.pop_back();
    return wanted;
}

// A continuation point names the position and the index of the next element to hand out.
std::string MakeContinuation(std::size_t next, const std::string& position) {
    return std::to_string(next) + "@" + position;
}
bool ParseContinuation(const std::string& text, const std::string& position, std::size_t size,
                       std::size_t& next) {
    std::size_t at = text.find('@');
    if (at == std::string::npos || text.compare(at + 1, std::string::npos, position) != 0)
        return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + at, next);
    return ec == std::errc{} && end == text.data() + at && next > 0 && next < size;
}

}  // namespace

HRESULT Da3BrowsePart::GetProperties(DWORD itemCount, LPWSTR* itemIds, BOOL withValues,
                                     DWORD propertyCount, DWORD* propertyIds,
                                     OPCITEMPROPERTIES** results) {
    VELQOR_SIM_ENTER(faults, State().Enter());
    if (!results) return E_INVALIDARG;
    *results = nullptr;
    if (itemCount == 0 || !itemIds || (propertyCount > 0 && !propertyIds)) return E_INVALIDARG;
    if (faults->OutArrays == OutArrayFault::Null) return S_OK;
    auto* out = TaskArray<OPCITEMPROPERTIES>(itemCount);
    if (!out) return E_OUTOFMEMORY;
    HRESULT result = S_OK;
    for (DWORD i = 0; i < itemCount; ++i) {
        int node;
        HRESULT hr = State().FindItem(itemIds[i], *faults, faults->PropertyErrorItems, node);
        if (SUCCEEDED(hr)) {
            bool all = propertyCount == 0 && !faults->EmptyProperties;
            auto wanted = WantedProperties(Space(), node, all, propertyCount, propertyIds, *faults);
            hr = FillProperties(Space(), node, wanted, withValues != FALSE, out[i]);
            if (hr == E_OUTOFMEMORY) {
                for (DWORD k = 0; k <= i; ++k) FreeItemProperties(out[k]);
                CoTaskMemFree(out);
                return E_OUTOFMEMORY;
            }
            hr = out[i].hrErrorID;
        } else {
            out[i].hrErrorID = hr;
        }
        if (hr != S_OK) result = S_FALSE;
    }
    *results = out;
    return result;
}

HRESULT Da3BrowsePart::Browse(LPWSTR itemId, LPWSTR* continuationPoint, DWORD maxElements,
                              OPCBROWSEFILTER filter, LPWSTR nameFilter, LPWSTR /*vendorFilter*/,
                              BOOL allProperties, BOOL withValues, DWORD propertyCount,
                              DWORD* propertyIds, BOOL* moreElements, DWORD* count,
                              OPCBROWSEELEMENT** elements) {
    VELQOR_SIM_ENTER(faults, State().Enter());
    if (!continuationPoint || !moreElements || !count || !elements) return E_INVALIDARG;
    // The continuation point passed in is the server's to free; a new one (or none) goes out.
    std::string resume = velqor::OleStrToText(*continuationPoint);
    CoTaskMemFree(*continuationPoint);
    *continuationPoint = nullptr;
    *moreElements = FALSE;
    *count = 0;
    *elements = nullptr;
    if (filter < OPC_BROWSE_FILTER_ALL || filter > OPC_BROWSE_FILTER_ITEMS) return E_INVALIDARG;
    if (propertyCount > 0 && !propertyIds) return E_INVALIDARG;

    const ComSimAddressSpace& space = Space();
    std::string position = velqor::OleStrToText(itemId);
    int at = space.Find(position);
    if (at < 0) return OPC_E_UNKNOWNITEMID;
    if (faults->RefusedBrowsePositions.count(space.Node(at).id)) return E_ACCESSDENIED;

    std::string mask = velqor::OleStrToText(nameFilter);
    std::vector<int> listed;
    for (int c : space.Node(at).children) {
        bool item = space.IsItem(c);
        if ((filter == OPC_BROWSE_FILTER_ITEMS && !item) ||
            (filter == OPC_BROWSE_FILTER_BRANCHES && item))
            continue;
        if (MatchesBrowseFilter(space.Node(c).name, mask)) listed.push_back(c);
    }
    std::size_t first = 0;
    if (!resume.empty() && !ParseContinuation(resume, position, listed.size(), first))
        return OPC_E_INVALIDCONTINUATIONPOINT;
    std::size_t last = listed.size();
    if (maxElements > 0 && last - first > maxElements) last = first + maxElements;
    if (faults->NoContinuation && maxElements == 0 && last - first > 3) last = first + 3;
    DWORD n = static_cast<DWORD>(last - first);
    if (n == 0) return S_FALSE;
    if (faults->OutArrays == OutArrayFault::Null) {
        *count = n;
        return S_OK;
    }

    auto* out = TaskArray<OPCBROWSEELEMENT>(n);
    if (!out) return E_OUTOFMEMORY;
    for (DWORD i = 0; i < n; ++i) {
        int node = listed[first + i];
        const auto& def = space.Node(node);
        OPCBROWSEELEMENT& e = out[i];
        e.szName = TaskString(def.name);
        e.szItemID = TaskString(def.id);
        bool ok = e.szName && e.szItemID;
        if (def.isItem) {
            e.dwFlagValue = OPC_BROWSE_ISITEM;
            if (faults->PropertyErrorItems.count(def.id)) {
                e.ItemProperties.hrErrorID = kSimItemFault;
            } else {
                auto wanted = WantedProperties(space, node, allProperties != FALSE, propertyCount,
                                               propertyIds, *faults);
                ok = ok && SUCCEEDED(FillProperties(space, node, wanted, withValues != FALSE,
                                                    e.ItemProperties));
            }
        } else {
            e.dwFlagValue = def.children.empty() ? 0 : OPC_BROWSE_HASCHILDREN;
        }
        if (!ok) {
            FreeElements(out, i + 1);
            return E_OUTOFMEMORY;
        }
    }
    if (last < listed.size() && faults->NoContinuation) {
        *moreElements = TRUE;
    } else if (last < listed.size()) {
        *continuationPoint = TaskString(MakeContinuation(last, position));
        if (!*continuationPoint) {
            FreeElements(out, n);
            return E_OUTOFMEMORY;
        }
    }
    *count = n;
    *elements = out;
    return S_OK;
}

}  // namespace velqor::sim
