// Apartment bookkeeping per thread, with the apartment's message filter.
#include <chrono>
#include <thread>

#include "ComPlatform.h"
#include "ComRuntimeControl.h"

namespace {

struct Apartment {
    int count = 0;
    DWORD mode = 0;
    IMessageFilter* filter = nullptr;  // counted
};
thread_local Apartment t_apartment;

}  // namespace

HRESULT CoInitializeEx(LPVOID, DWORD dwCoInit) {
    Apartment& a = t_apartment;
    if (a.count > 0) {
        if (a.mode != dwCoInit) return RPC_E_CHANGED_MODE;
        ++a.count;
        return S_FALSE;
    }
    a.mode = dwCoInit;
    a.count = 1;
    return S_OK;
}

HRESULT CoInitialize(LPVOID pvReserved) {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize() {
    Apartment& a = t_apartment;
    if (a.count > 0 && --a.count == 0 && a.filter) {
        a.filter->Release();  // the apartment ends, and its filter with it
        a.filter = nullptr;
    }
}

HRESULT CoRegisterMessageFilter(LPMESSAGEFILTER filter, LPMESSAGEFILTER* previous) {
    Apartment& a = t_apartment;
    if (a.count == 0) return CO_E_NOTINITIALIZED;
    if (a.mode != COINIT_APARTMENTTHREADED) return CO_E_NOT_SUPPORTED;
    if (filter) filter->AddRef();
    IMessageFilter* old = a.filter;
    a.filter = filter;
    if (previous) {
        *previous = old;
    } else if (old) {
        old->Release();
    }
    return S_OK;
}

namespace velqor::com {

int ApartmentInitCount() { return t_apartment.count; }

HRESULT WaitAsServer(DWORD ms) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto end = start + std::chrono::milliseconds(ms);
    constexpr auto kSlice = std::chrono::milliseconds(10);
    for (;;) {
        const auto now = Clock::now();
        if (now >= end) return S_OK;
        if (IMessageFilter* filter = t_apartment.filter) {
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count();
            if (filter->MessagePending(nullptr, DWORD(elapsed), PENDINGTYPE_TOPLEVEL) ==
                PENDINGMSG_CANCELCALL)
                return RPC_E_CALL_CANCELED;
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(kSlice, end - now));
    }
}

}  // namespace velqor::com
