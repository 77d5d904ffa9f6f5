// Apartment bookkeeping per thread, and the beep hook.
#include <functional>
#include <mutex>

#include "ComPlatform.h"
#include "ComRuntimeControl.h"

namespace {

struct Apartment {
    int count = 0;
    DWORD mode = 0;
};
thread_local Apartment t_apartment;

std::mutex g_beepMu;
std::function<void(UINT)>& BeepHook() {
    static std::function<void(UINT)> hook;
    return hook;
}

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
    if (t_apartment.count > 0) --t_apartment.count;
}

BOOL MessageBeep(UINT uType) {
    std::function<void(UINT)> hook;
    {
        std::lock_guard lock(g_beepMu);
        hook = BeepHook();
    }
    if (hook) hook(uType);
    return TRUE;
}

namespace velqor::com {

int ApartmentInitCount() { return t_apartment.count; }

void SetBeepHook(std::function<void(UINT type)> hook) {
    std::lock_guard lock(g_beepMu);
    BeepHook() = std::move(hook);
}

}  // namespace velqor::com
