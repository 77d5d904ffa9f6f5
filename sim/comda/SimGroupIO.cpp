// Synchronous reads and writes of a simulated group (IOPCSyncIO, IOPCSyncIO2), and the per-item
// read and write every path of the group shares.
#include <chrono>

#include "SimGroup.h"
#include "SimServerParts.h"

namespace velqor::sim {
namespace {

xmldasim::TimePoint Now() {
    return std::chrono::time_point_cast<std::chrono::milliseconds>(xmldasim::Clock::now());
}

// The item's value converted to the type the client asked for.
HRESULT ConvertTo(VARTYPE requested, VARIANT& value) {
    if (requested == VT_EMPTY || requested == value.vt) return S_OK;
    VARIANT converted;
    VariantInit(&converted);
    HRESULT hr = VariantChangeType(&converted, &value, 0, requested);
    VariantClear(&value);
    if (FAILED(hr)) return hr == DISP_E_OVERFLOW ? OPC_E_RANGE : OPC_E_BADTYPE;
    value = converted;
    return S_OK;
}

}  // namespace

SimItemValue SimGroup::Deliver(const SimGroupItem& item, const xmldasim::Sample& sample) const {
    SimItemValue out;
    out.Client = item.Client;
    out.Error = ValueToVariant(sample.value, out.Value);
    if (SUCCEEDED(out.Error)) out.Error = ConvertTo(item.Requested, out.Value);
    if (FAILED(out.Error)) return out;
    out.Quality = QualityWordOf(sample.quality);
    out.Time = FileTimeOf(sample.timestamp);
    return out;
}

SimItemValue SimGroup::ReadItem(const SimGroupItem& item, DWORD maxAge, bool cacheRead,
                                const SimFaults& faults) {
    if (faults.SFalseWithErrors || faults.ReadErrorItems.count(item.ItemId) ||
        space_->Node(item.Node).item.access == xmldasim::Access::Write) {
        SimItemValue out;
        out.Client = item.Client;
        out.Error = space_->Node(item.Node).item.access == xmldasim::Access::Write ? OPC_E_BADRIGHTS
                                                                                   : kSimItemFault;
        return out;
    }
    SimItemValue out = Deliver(item, space_->Plant().read(item.Node, Now(), maxAge));
    // The cache of an inactive item or group is not kept up to date.
    if (cacheRead && SUCCEEDED(out.Error) && (!item.Active || !settings_.Active))
        out.Quality = OPC_QUALITY_OUT_OF_SERVICE;
    return out;
}

HRESULT SimGroup::WriteItem(const SimGroupItem& item, const SimItemValue& value,
                            const SimFaults& faults) {
    if (faults.SFalseWithErrors || faults.WriteErrorItems.count(item.ItemId)) return kSimItemFault;
    // The plant keeps a quality per item, not per written value.
    if (value.QualityGiven && space_->Node(item.Node).item.access != xmldasim::Access::Read)
        return OPC_E_NOTSUPPORTED;
    return space_->WriteValue(item.Node, value.Value, value.TimeGiven ? &value.Time : nullptr);
}

HRESULT SimGroup::ReadEach(DWORD count, const OPCHANDLE* server, HRESULT* errors,
                           const std::function<DWORD(DWORD i)>& maxAge, bool cacheRead,
                           const SimFaults& faults,
                           const std::function<void(DWORD i, SimItemValue& value)>& put) {
    HRESULT overall = S_OK;
    std::lock_guard lock(mu_);
    for (DWORD i = 0; i < count; ++i) {
        const SimGroupItem* item = FindItem(server[i]);
        if (!item) {
            errors[i] = OPC_E_INVALIDHANDLE;
            overall = S_FALSE;
            continue;
        }
        SimItemValue v = ReadItem(*item, maxAge(i), cacheRead, faults);
        put(i, v);
        errors[i] = v.Error;
        if (FAILED(v.Error)) overall = S_FALSE;
    }
    return overall;
}

HRESULT SimGroup::Read(OPCDATASOURCE source, DWORD count, OPCHANDLE* server, OPCITEMSTATE** values,
                       HRESULT** errors) {
    VELQOR_SIM_ENTER(faults, EnterSimCall());
    if (!ClearOutPointers(values, errors)) return E_INVALIDARG;
    if (count == 0 || !server || (source != OPC_DS_CACHE && source != OPC_DS_DEVICE))
        return E_INVALIDARG;
    OPCITEMSTATE* s;
    HRESULT* e;
    if (!TaskArrays(count, s, e)) return E_OUTOFMEMORY;
    for (DWORD i = 0; i < count; ++i) VariantInit(&s[i].vDataValue);
    const bool cache = source == OPC_DS_CACHE;
    const DWORD age = cache ? settings_.UpdateRate : 0;
    const HRESULT overall = ReadEach(
        count, server, e, [age](DWORD) { return age; }, cache, *faults,
        [s](DWORD i, SimItemValue& v) {
            s[i].hClient = v.Client;
            s[i].wQuality = v.Quality;
            s[i].ftTimeStamp = v.Time;
            s[i].vDataValue = v.Value;
            VariantInit(&v.Value);
        });
    if (faults->OutArrays == OutArrayFault::Null) {
        for (DWORD i = 0; i < count; ++i) VariantClear(&s[i].vDataValue);
        FreeTaskArrays(s, e);
        return S_OK;
    }
    *values = s;
    *errors = e;
    return overall;
}

HRESULT SimGroup::Write(DWORD count, OPCHANDLE* server, VARIANT* values, HRESULT** errors) {
    if (!values) return E_INVALIDARG;
    auto faults = CurrentSimFaults();
    return ItemCall(count, server, errors, [&](DWORD i, OPCHANDLE h) {
        SimItemValue v;
        VariantCopy(&v.Value, &values[i]);
        return WriteItem(*FindItem(h), v, *faults);
    });
}

HRESULT SimGroup::ReadMaxAge(DWORD count, OPCHANDLE* server, DWORD* maxAge, VARIANT** values,
                             WORD** qualities, FILETIME** times, HRESULT** errors) {
    VELQOR_SIM_ENTER(faults, EnterSimCall());
    if (!ClearOutPointers(values, qualities, times, errors)) return E_INVALIDARG;
    if (count == 0 || !server || !maxAge) return E_INVALIDARG;
    VARIANT* v;
    WORD* q;
    FILETIME* t;
    HRESULT* e;
    if (!TaskArrays(count, v, q, t, e)) return E_OUTOFMEMORY;
    for (DWORD i = 0; i < count; ++i) VariantInit(&v[i]);
    const HRESULT overall = ReadEach(
        count, server, e, [maxAge](DWORD i) { return maxAge[i]; }, false, *faults,
        [v, q, t](DWORD i, SimItemValue& r) {
            v[i] = r.Value;
            VariantInit(&r.Value);
            q[i] = r.Quality;
            t[i] = r.Time;
        });
    if (faults->OutArrays == OutArrayFault::Null) {
        for (DWORD i = 0; i < count; ++i) VariantClear(&v[i]);
        FreeTaskArrays(v, q, t, e);
        return S_OK;
    }
    *values = v;
    *qualities = q;
    *times = t;
    *errors = e;
    return overall;
}

HRESULT SimGroup::WriteVQT(DWORD count, OPCHANDLE* server, OPCITEMVQT* vqts, HRESULT** errors) {
    if (!vqts) return E_INVALIDARG;
    auto faults = CurrentSimFaults();
    return ItemCall(count, server, errors, [&](DWORD i, OPCHANDLE h) {
        SimItemValue v;
        VariantCopy(&v.Value, &vqts[i].vDataValue);
        v.QualityGiven = vqts[i].bQualitySpecified != FALSE;
        v.TimeGiven = vqts[i].bTimeStampSpecified != FALSE;
        v.Time = vqts[i].ftTimeStamp;
        return WriteItem(*FindItem(h), v, *faults);
    });
}

}  // namespace velqor::sim
