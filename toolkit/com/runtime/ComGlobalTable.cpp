// The process-wide global interface table. All callers share one apartment model here, so an
// interface is handed back as the pointer that was registered (queried for the asked IID),
// not as a proxy.
#include <map>
#include <mutex>

#include "ComClassTable.h"
#include "PlatformObject.h"

namespace velqor::com {

namespace {

class GlobalInterfaceTable : public PlatformObject<IGlobalInterfaceTable> {
  public:
    HRESULT STDMETHODCALLTYPE RegisterInterfaceInGlobal(::IUnknown* pUnk, REFIID riid,
                                                        DWORD* pdwCookie) override {
        if (!pUnk || !pdwCookie) return E_INVALIDARG;
        *pdwCookie = 0;
        ComPtr<::IUnknown> held;
        HRESULT hr = pUnk->QueryInterface(riid, reinterpret_cast<void**>(held.Put()));
        if (FAILED(hr)) return hr;
        std::lock_guard lock(mu_);
        DWORD cookie = next_++;
        entries_.emplace(cookie, std::move(held));
        *pdwCookie = cookie;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RevokeInterfaceFromGlobal(DWORD dwCookie) override {
        ComPtr<::IUnknown> dropped;  // released outside the lock
        std::lock_guard lock(mu_);
        auto it = entries_.find(dwCookie);
        if (it == entries_.end()) return E_INVALIDARG;
        dropped = std::move(it->second);
        entries_.erase(it);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetInterfaceFromGlobal(DWORD dwCookie, REFIID riid,
                                                     void** ppv) override {
        if (!ppv) return E_INVALIDARG;
        *ppv = nullptr;
        ComPtr<::IUnknown> held;
        {
            std::lock_guard lock(mu_);
            auto it = entries_.find(dwCookie);
            if (it == entries_.end()) return E_INVALIDARG;
            held = it->second;
        }
        return held->QueryInterface(riid, ppv);
    }

  private:
    std::mutex mu_;
    std::map<DWORD, ComPtr<::IUnknown>> entries_;
    DWORD next_ = 0x100;
};

}  // namespace

HRESULT detail::CreateGlobalInterfaceTable(REFIID riid, void** object) {
    // One table for the process, never destroyed: registrations outlive any one reference.
    static GlobalInterfaceTable* table = [] {
        auto* t = new GlobalInterfaceTable;
        t->AddRef();
        return t;
    }();
    return table->QueryInterface(riid, object);
}

}  // namespace velqor::com
