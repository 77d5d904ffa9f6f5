#include "ComConnectionPoints.h"

namespace velqor::com {

HRESULT ConnectionPoint::QueryInterface(const ::IID& riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IConnectionPoint) return E_NOINTERFACE;
    *ppv = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionInterface(::IID* pIID) {
    if (!pIID) return E_POINTER;
    *pIID = iid_;
    return S_OK;
}

HRESULT ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** pp) {
    return CopyOut(&owner_, pp);
}

HRESULT ConnectionPoint::Advise(::IUnknown* pUnkSink, DWORD* pdwCookie) {
    if (!pdwCookie) return E_POINTER;
    *pdwCookie = 0;
    if (!pUnkSink) return E_POINTER;
    void* sink = nullptr;
    if (FAILED(pUnkSink->QueryInterface(iid_, &sink)) || !sink) return CONNECT_E_CANNOTCONNECT;
    DWORD cookie = next_++;
    sinks_.emplace(cookie, static_cast<::IUnknown*>(sink));
    *pdwCookie = cookie;
    return S_OK;
}

HRESULT ConnectionPoint::Unadvise(DWORD dwCookie) {
    auto it = sinks_.find(dwCookie);
    if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
    ::IUnknown* sink = it->second;
    sinks_.erase(it);
    sink->Release();
    return S_OK;
}

HRESULT ConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
    if (!ppEnum) return E_POINTER;
    std::vector<ConnectionCopy::Stored> list;
    for (const auto& [cookie, sink] : sinks_) list.emplace_back(ComPtr<::IUnknown>(sink), cookie);
    *ppEnum = MakeObject<ConnectionsEnumerator>(std::move(list)).Detach();
    return S_OK;
}

void ConnectionPoint::Clear() {
    auto sinks = std::move(sinks_);
    sinks_.clear();
    for (auto& [cookie, sink] : sinks) sink->Release();
}

HRESULT ConnectionPointList::Find(const ::IID& riid, IConnectionPoint** ppCP) const {
    if (!ppCP) return E_POINTER;
    *ppCP = nullptr;
    for (ConnectionPoint* p : points_)
        if (p->Iid() == riid) return CopyOut<IConnectionPoint>(p, ppCP);
    return CONNECT_E_NOCONNECTION;
}

HRESULT ConnectionPointList::Enum(IEnumConnectionPoints** ppEnum) const {
    if (!ppEnum) return E_POINTER;
    std::vector<ComPtr<IConnectionPoint>> list;
    for (ConnectionPoint* p : points_) list.emplace_back(p);
    *ppEnum = MakeObject<ConnectionPointsEnumerator>(std::move(list)).Detach();
    return S_OK;
}

HRESULT DataAdviseList::Advise(const FORMATETC* format, DWORD advf, IAdviseSink* sink,
                               DWORD* connection) {
    if (!connection) return E_POINTER;
    *connection = 0;
    if (!format || !sink) return E_INVALIDARG;
    DWORD id = next_++;
    entries_.push_back(Entry{*format, advf, ComPtr<IAdviseSink>(sink), id});
    *connection = id;
    return S_OK;
}

HRESULT DataAdviseList::Unadvise(DWORD connection) {
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (it->Connection == connection) {
            Entry dropped = std::move(*it);
            entries_.erase(it);
            return S_OK;
        }
    }
    return OLE_E_NOCONNECTION;
}

std::vector<DataAdviseList::Entry> DataAdviseList::Snapshot() const { return entries_; }

}  // namespace velqor::com
