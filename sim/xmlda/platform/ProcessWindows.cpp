#include <windows.h>

#include "xmlda/Process.h"
#include "xmlda/XmlDaSim.h"

namespace velqor::xmldasim {

namespace {

HANDLE g_stop = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD) {
    SetEvent(g_stop);
    return TRUE;  // the waiting thread stops the service and returns from main
}

}  // namespace

void PrepareProcess() {
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void WaitForStop(Service& sim, int dropEveryMs) {
    const DWORD period = dropEveryMs > 0 ? static_cast<DWORD>(dropEveryMs) : INFINITE;
    while (WaitForSingleObject(g_stop, period) == WAIT_TIMEOUT) sim.dropAllSubscriptions();
}

// The C runtime's heap gives its free pages back on its own.
void ReturnFreeMemory() {}

}  // namespace velqor::xmldasim
