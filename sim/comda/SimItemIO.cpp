// IOPCItemIO: reads by item ID honouring a maximum age per item, and writes of value, quality
// and timestamp, straight on the plant without a group.
#include "SimServerParts.h"
#include "com/ComValues.h"

namespace velqor::sim {
namespace {

xmldasim::TimePoint Now() {
    return std::chrono::time_point_cast<std::chrono::milliseconds>(xmldasim::Clock::now());
}

}  // namespace

HRESULT ComSimAddressSpace::ReadValue(int item, long long maxAgeMs, VARIANT& value, WORD& quality,
                                      FILETIME& time) {
    VariantInit(&value);
    quality = OPC_QUALITY_BAD;
    time = {};
    if (Node(item).item.access == xmldasim::Access::Write) return OPC_E_BADRIGHTS;
    xmldasim::Sample s = plant_->read(item, Now(), maxAgeMs);
    HRESULT hr = ValueToVariant(s.value, value);
    if (FAILED(hr)) return hr;
    quality = QualityWordOf(s.quality);
    time = FileTimeOf(s.timestamp);
    return S_OK;
}

HRESULT ComSimAddressSpace::WriteValue(int item, const VARIANT& value, const FILETIME* at) {
    if (Node(item).item.access == xmldasim::Access::Read) return OPC_E_BADRIGHTS;
    xmldasim::Value v;
    HRESULT hr = VariantToValue(value, Node(item).item.type, v);
    if (FAILED(hr)) return hr;
    std::string refused = plant_->write(item, v, at ? TimePointOf(*at) : Now());
    if (refused == "E_RANGE") return OPC_E_RANGE;
    return refused.empty() ? S_OK : OPC_E_BADRIGHTS;
}

HRESULT ItemIOPart::Read(DWORD count, LPCWSTR* itemIds, DWORD* maxAge, VARIANT** values,
                         WORD** qualities, FILETIME** timeStamps, HRESULT** errors) {
    VELQOR_SIM_ENTER(faults, State().Enter());
    if (!ClearOutPointers(values, qualities, timeStamps, errors)) return E_INVALIDARG;
    if (count == 0 || !itemIds || !maxAge) return E_INVALIDARG;
    if (faults->OutArrays == OutArrayFault::Null) return S_OK;
    VARIANT* v;
    WORD* q;
    FILETIME* t;
    HRESULT* e;
    if (!TaskArrays(count, v, q, t, e)) return E_OUTOFMEMORY;
    HRESULT result = S_OK;
    for (DWORD i = 0; i < count; ++i) {
        VariantInit(&v[i]);
        int node;
        HRESULT hr = State().FindItem(itemIds[i], *faults, faults->ReadErrorItems, node);
        if (SUCCEEDED(hr)) hr = Space().ReadValue(node, maxAge[i], v[i], q[i], t[i]);
        e[i] = hr;
        if (FAILED(hr)) {
            q[i] = OPC_QUALITY_BAD;
            result = S_FALSE;
        }
    }
    *values = v;
    *qualities = q;
    *timeStamps = t;
    *errors = e;
    return result;
}

HRESULT ItemIOPart::WriteVQT(DWORD count, LPCWSTR* itemIds, OPCITEMVQT* vqts, HRESULT** errors) {
    VELQOR_SIM_ENTER(faults, State().Enter());
    if (!errors) return E_INVALIDARG;
    *errors = nullptr;
    if (count == 0 || !itemIds || !vqts) return E_INVALIDARG;
    auto* e = TaskArray<HRESULT>(count);
    if (!e) return E_OUTOFMEMORY;
    HRESULT result = S_OK;
    for (DWORD i = 0; i < count; ++i) {
        int node;
        HRESULT hr = State().FindItem(itemIds[i], *faults, faults->WriteErrorItems, node);
        const OPCITEMVQT& w = vqts[i];
        // The plant keeps a quality per item, not per written value (a read-only item is refused
        // for its rights first).
        if (SUCCEEDED(hr) && w.bQualitySpecified &&
            Space().Node(node).item.access != xmldasim::Access::Read)
            hr = OPC_E_NOTSUPPORTED;
        if (SUCCEEDED(hr))
            hr = Space().WriteValue(node, w.vDataValue,
                                    w.bTimeStampSpecified ? &w.ftTimeStamp : nullptr);
        e[i] = hr;
        if (FAILED(hr)) result = S_FALSE;
    }
    if (faults->OutArrays == OutArrayFault::Null) {
        CoTaskMemFree(e);
        return S_OK;
    }
    *errors = e;
    return result;
}

}  // namespace velqor::sim
