// Server-side helpers: connection points a server object offers through its
// IConnectionPointContainer, and the list of IDataObject advise sinks. Callbacks are made by
// the server from a snapshot of the sinks, so a sink may unadvise while being called.
#pragma once

#include <map>
#include <vector>

#include "com/runtime/ComEnumerators.h"
#include "com/runtime/PlatformObject.h"

namespace velqor::com {

// One outgoing interface of a server object. It lives inside its owner and shares the owner's
// reference count, as a tear-off part of the same object (no reference cycle).
class ConnectionPoint : public IConnectionPoint {
  public:
    ConnectionPoint(IConnectionPointContainer& owner, const ::IID& iid)
        : owner_(owner), iid_(iid) {}
    ConnectionPoint(const ConnectionPoint&) = delete;
    ConnectionPoint& operator=(const ConnectionPoint&) = delete;
    virtual ~ConnectionPoint() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(const ::IID& riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(::IID* pIID) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** pp) override;
    HRESULT STDMETHODCALLTYPE Advise(::IUnknown* pUnkSink, DWORD* pdwCookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) override;

    const ::IID& Iid() const { return iid_; }
    size_t Count() const { return sinks_.size(); }
    // The advised sinks as the outgoing interface I, in advise order.
    template <class I>
    std::vector<ComPtr<I>> Sinks() const {
        std::vector<ComPtr<I>> out;
        for (const auto& [cookie, sink] : sinks_) out.push_back(ComPtr<I>(static_cast<I*>(sink)));
        return out;
    }
    // Drops every sink (the server going away).
    void Clear();

  private:
    IConnectionPointContainer& owner_;
    ::IID iid_;
    std::map<DWORD, ::IUnknown*> sinks_;  // each holds one reference, queried for iid_
    DWORD next_ = 1;
};

// What a server's IConnectionPointContainer methods delegate to.
class ConnectionPointList {
  public:
    void Add(ConnectionPoint& point) { points_.push_back(&point); }
    HRESULT Find(const ::IID& riid, IConnectionPoint** ppCP) const;
    HRESULT Enum(IEnumConnectionPoints** ppEnum) const;

  private:
    std::vector<ConnectionPoint*> points_;
};

// The advise sinks of a server's IDataObject (DAdvise / DUnadvise).
class DataAdviseList {
  public:
    struct Entry {
        FORMATETC Format;
        DWORD Advf;
        ComPtr<IAdviseSink> Sink;
        DWORD Connection;
    };
    ~DataAdviseList() { Clear(); }
    HRESULT Advise(const FORMATETC* format, DWORD advf, IAdviseSink* sink, DWORD* connection);
    HRESULT Unadvise(DWORD connection);
    std::vector<Entry> Snapshot() const;
    size_t Count() const { return entries_.size(); }
    void Clear() { entries_.clear(); }

  private:
    std::vector<Entry> entries_;
    DWORD next_ = 1;
};

}  // namespace velqor::com
