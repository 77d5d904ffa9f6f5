// Apartment bookkeeping per thread.
#include "ComPlatform.h"
#include "ComRuntimeControl.h"

namespace {

struct Apartment {
    int count = 0;
    DWORD mode = 0;
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
    if (t_apartment.count > 0) --t_apartment.count;
}

namespace velqor::com {

int ApartmentInitCount() { return t_apartment.count; }

}  // namespace velqor::com
