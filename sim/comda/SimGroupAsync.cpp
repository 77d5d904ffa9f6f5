// Asynchronous reads, writes and refreshes of a simulated group (IOPCAsyncIO2/3 and the DA 1.0
// IOPCAsyncIO): a call checks its items and queues the request; the answer goes out later on
// the group's event loop, unless the request was cancelled first.
#include "SimGroup.h"
#include "SimServerParts.h"

namespace velqor::sim {

bool SimGroup::HasCallback() const {
    std::lock_guard lock(mu_);
    return dataPoint_.Count() > 0 || !ghostCallbacks_.empty();
}

bool SimGroup::HasAdvise(DWORD connection, bool dataOnly) const {
    for (const auto& e : advises_.Snapshot()) {
        bool data = e.Format.cfFormat == StreamFormats().Data ||
                    e.Format.cfFormat == StreamFormats().DataTime;
        if (e.Connection == connection && (data || !dataOnly)) return true;
    }
    return false;
}

HRESULT SimGroup::CheckAsync(DWORD count, OPCHANDLE* server, bool forWrite, HRESULT** errors,
                             std::vector<DWORD>& good) {
    return EachItem(*CurrentSimFaults(), count, server, errors, [&](DWORD i, OPCHANDLE h) {
        auto access = space_->Node(FindItem(h)->Node).item.access;
        if (access == (forWrite ? xmldasim::Access::Read : xmldasim::Access::Write))
            return OPC_E_BADRIGHTS;
        good.push_back(i);
        return S_OK;
    });
}

HRESULT SimGroup::Queue(Pending request, DWORD* cancelId) {
    DWORD id;
    {
        std::lock_guard lock(mu_);
        if (detached_) return E_FAIL;
        id = nextCancel_++;
        if (nextCancel_ == 0) nextCancel_ = 1;
        if (request.Da10) request.Transaction = id;  // DA 1.0 servers number the transactions
        pending_.emplace(id, std::move(request));
    }
    *cancelId = id;
    if (CurrentSimFaults()->CompleteInCall)
        Complete(id);
    else
        callbacks_.Post([this, id] { Complete(id); });
    return S_OK;
}

std::vector<SimItemValue> SimGroup::RefreshValues(DWORD maxAge, bool cacheRead) {
    auto faults = CurrentSimFaults();
    std::vector<SimItemValue> out;
    for (const auto& [h, item] : items_)
        if (item.Active && space_->Node(item.Node).item.access != xmldasim::Access::Write)
            out.push_back(ReadItem(item, maxAge, cacheRead, *faults));
    return out;
}

void SimGroup::Complete(DWORD cancelId) {
    com::ComPtr<SimGroup> self(this);  // a sink may release the group while it is called
    auto faults = CurrentSimFaults();
    Pending p;
    std::vector<SimItemValue> results;
    {
        std::lock_guard lock(mu_);
        auto it = pending_.find(cancelId);
        if (it == pending_.end()) return;  // cancelled
        p = std::move(it->second);
        pending_.erase(it);
        if (p.What == Pending::RefreshItems) {
            results = RefreshValues(p.MaxAge.at(0), p.CacheRead);
        } else {
            for (std::size_t i = 0; i < p.Handles.size(); ++i) {
                const SimGroupItem* item = FindItem(p.Handles[i]);
                if (!item) continue;  // removed meanwhile
                if (p.What == Pending::ReadItems) {
                    results.push_back(ReadItem(*item, p.MaxAge[i], p.CacheRead, *faults));
                } else {
                    SimItemValue r;
                    r.Client = item->Client;
                    r.Error = WriteItem(*item, p.Written[i], *faults);
                    results.push_back(std::move(r));
                }
            }
        }
    }
    if (faults->UnknownClientHandle && p.What != Pending::WriteItems) AddUnknownClientItem(results);
    if (p.Da10) {
        if (p.What == Pending::WriteItems)
            SendWriteStream(p.Transaction, results);
        else
            SendStream(p.Transaction, results, p.Connection);
    } else if (p.What == Pending::WriteItems) {
        SendWriteComplete(p.Transaction, results);
    } else {
        SendDataChange(p.Transaction, results, p.What == Pending::ReadItems);
    }
}

// IOPCAsyncIO2 / IOPCAsyncIO3

HRESULT SimGroup::Read(DWORD count, OPCHANDLE* server, DWORD transaction, DWORD* cancelId,
                       HRESULT** errors) {
    return ReadMaxAge(count, server, nullptr, transaction, cancelId, errors);
}

HRESULT SimGroup::ReadMaxAge(DWORD count, OPCHANDLE* server, DWORD* maxAge, DWORD transaction,
                             DWORD* cancelId, HRESULT** errors) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    if (!cancelId) return E_INVALIDARG;
    *cancelId = 0;
    if (!HasCallback()) return CONNECT_E_NOCONNECTION;
    std::vector<DWORD> good;
    HRESULT hr = CheckAsync(count, server, false, errors, good);
    if (FAILED(hr) || good.empty()) return hr;
    Pending p{Pending::ReadItems, transaction};
    for (DWORD i : good) {
        p.Handles.push_back(server[i]);
        p.MaxAge.push_back(maxAge ? maxAge[i] : 0);  // DA 2.0 reads come from the device
    }
    HRESULT queued = Queue(std::move(p), cancelId);
    return FAILED(queued) ? queued : hr;
}

HRESULT SimGroup::AsyncWrite(DWORD count, OPCHANDLE* server, std::vector<SimItemValue> values,
                             Pending request, DWORD* cancelId, HRESULT** errors) {
    std::vector<DWORD> good;
    HRESULT hr = CheckAsync(count, server, true, errors, good);
    if (FAILED(hr) || good.empty()) return hr;
    for (DWORD i : good) {
        request.Handles.push_back(server[i]);
        request.Written.push_back(std::move(values[i]));
    }
    HRESULT queued = Queue(std::move(request), cancelId);
    return FAILED(queued) ? queued : hr;
}

HRESULT SimGroup::QueueWrite(DWORD count, OPCHANDLE* server, bool valuesGiven, DWORD transaction,
                             DWORD* cancelId, HRESULT** errors,
                             const std::function<void(DWORD, SimItemValue&)>& copy) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    if (!cancelId) return E_INVALIDARG;
    *cancelId = 0;
    if (!valuesGiven) return E_INVALIDARG;
    if (!HasCallback()) return CONNECT_E_NOCONNECTION;
    std::vector<SimItemValue> copies(count);
    for (DWORD i = 0; i < count; ++i) copy(i, copies[i]);
    return AsyncWrite(count, server, std::move(copies), Pending{Pending::WriteItems, transaction},
                      cancelId, errors);
}

HRESULT SimGroup::Write(DWORD count, OPCHANDLE* server, VARIANT* values, DWORD transaction,
                        DWORD* cancelId, HRESULT** errors) {
    return QueueWrite(count, server, values != nullptr, transaction, cancelId, errors,
                      [&](DWORD i, SimItemValue& v) { VariantCopy(&v.Value, &values[i]); });
}

HRESULT SimGroup::WriteVQT(DWORD count, OPCHANDLE* server, OPCITEMVQT* vqts, DWORD transaction,
                           DWORD* cancelId, HRESULT** errors) {
    return QueueWrite(count, server, vqts != nullptr, transaction, cancelId, errors,
                      [&](DWORD i, SimItemValue& v) {
                          VariantCopy(&v.Value, &vqts[i].vDataValue);
                          v.QualityGiven = vqts[i].bQualitySpecified != FALSE;
                          v.TimeGiven = vqts[i].bTimeStampSpecified != FALSE;
                          v.Time = vqts[i].ftTimeStamp;
                      });
}

HRESULT SimGroup::Refresh2(OPCDATASOURCE source, DWORD transaction, DWORD* cancelId) {
    if (source != OPC_DS_CACHE && source != OPC_DS_DEVICE) return E_INVALIDARG;
    DWORD age = source == OPC_DS_CACHE ? 0xFFFFFFFFu : 0;
    return RefreshMaxAge(age, transaction, cancelId);
}

HRESULT SimGroup::RefreshMaxAge(DWORD maxAge, DWORD transaction, DWORD* cancelId) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    if (!cancelId) return E_INVALIDARG;
    *cancelId = 0;
    if (!HasCallback()) return CONNECT_E_NOCONNECTION;
    Pending p{Pending::RefreshItems, transaction};
    {
        std::lock_guard lock(mu_);
        // Only an active group with active items has anything to refresh.
        bool any = false;
        for (const auto& [h, item] : items_) any = any || item.Active;
        if (!settings_.Active || !any) return E_FAIL;
        p.CacheRead = maxAge == 0xFFFFFFFFu;
        p.MaxAge = {p.CacheRead ? settings_.UpdateRate : maxAge};
    }
    return Queue(std::move(p), cancelId);
}

HRESULT SimGroup::Cancel2(DWORD cancelId) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    DWORD transaction;
    {
        std::lock_guard lock(mu_);
        auto it = pending_.find(cancelId);
        if (it == pending_.end() || it->second.Da10) return E_FAIL;  // too late, or unknown
        transaction = it->second.Transaction;
        pending_.erase(it);
    }
    callbacks_.Post([this, transaction] {
        com::ComPtr<SimGroup> self(this);
        SendCancelComplete(transaction);
    });
    return S_OK;
}

HRESULT SimGroup::SetEnable(BOOL enable) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    if (!HasCallback()) return CONNECT_E_NOCONNECTION;
    std::lock_guard lock(mu_);
    if (enable && !enabled_) ResetSent();
    enabled_ = enable != FALSE;
    return S_OK;
}

HRESULT SimGroup::GetEnable(BOOL* enable) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    if (!enable) return E_INVALIDARG;
    if (!HasCallback()) return CONNECT_E_NOCONNECTION;
    std::lock_guard lock(mu_);
    *enable = enabled_ ? TRUE : FALSE;
    return S_OK;
}

// IOPCAsyncIO (DA 1.0): the answers go to the IDataObject advise connection named.

HRESULT SimGroup::Read(DWORD connection, OPCDATASOURCE source, DWORD count, OPCHANDLE* server,
                       DWORD* transaction, HRESULT** errors) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    if (!transaction) return E_INVALIDARG;
    *transaction = 0;
    if (source != OPC_DS_CACHE && source != OPC_DS_DEVICE) return E_INVALIDARG;
    DWORD rate;
    {
        std::lock_guard lock(mu_);
        if (!HasAdvise(connection, true)) return CONNECT_E_NOCONNECTION;
        rate = settings_.UpdateRate;
    }
    std::vector<DWORD> good;
    HRESULT hr = CheckAsync(count, server, false, errors, good);
    if (FAILED(hr) || good.empty()) return hr;
    Pending p{Pending::ReadItems, 0, connection};
    p.Da10 = true;
    p.CacheRead = source == OPC_DS_CACHE;
    for (DWORD i : good) {
        p.Handles.push_back(server[i]);
        p.MaxAge.push_back(p.CacheRead ? rate : 0);
    }
    HRESULT queued = Queue(std::move(p), transaction);
    return FAILED(queued) ? queued : hr;
}

HRESULT SimGroup::Write(DWORD connection, DWORD count, OPCHANDLE* server, VARIANT* values,
                        DWORD* transaction, HRESULT** errors) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    if (!transaction) return E_INVALIDARG;
    *transaction = 0;
    if (!values) return E_INVALIDARG;
    {
        // Any advise connection of the group will do; the answer goes to the sinks advised
        // for "OPCSTMFORMATWRITECOMPLETE".
        std::lock_guard lock(mu_);
        if (!HasAdvise(connection, false)) return CONNECT_E_NOCONNECTION;
    }
    std::vector<SimItemValue> copies(count);
    for (DWORD i = 0; i < count; ++i) VariantCopy(&copies[i].Value, &values[i]);
    Pending p{Pending::WriteItems, 0, connection};
    p.Da10 = true;
    return AsyncWrite(count, server, std::move(copies), std::move(p), transaction, errors);
}

HRESULT SimGroup::Refresh(DWORD connection, OPCDATASOURCE source, DWORD* transaction) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    if (!transaction) return E_INVALIDARG;
    *transaction = 0;
    if (source != OPC_DS_CACHE && source != OPC_DS_DEVICE) return E_INVALIDARG;
    Pending p{Pending::RefreshItems, 0, connection};
    p.Da10 = true;
    {
        std::lock_guard lock(mu_);
        if (!HasAdvise(connection, true)) return CONNECT_E_NOCONNECTION;
        bool any = false;
        for (const auto& [h, item] : items_) any = any || item.Active;
        if (!settings_.Active || !any) return E_FAIL;
        p.CacheRead = source == OPC_DS_CACHE;
        p.MaxAge = {p.CacheRead ? settings_.UpdateRate : 0};
    }
    return Queue(std::move(p), transaction);
}

HRESULT SimGroup::Cancel(DWORD transaction) {
    if (!EnterSimCall()) return RPC_E_CALL_CANCELED;
    std::lock_guard lock(mu_);
    auto it = pending_.find(transaction);
    if (it == pending_.end() || !it->second.Da10) return E_FAIL;
    pending_.erase(it);  // DA 1.0 knows no cancel notification
    return S_OK;
}

}  // namespace velqor::sim
