// Ctrl-C, Ctrl-Break and a closed console window on Windows: the system calls the console
// control handler on a thread of its own, so the reaction can lock and post.
#include <windows.h>

#include "Interrupt.h"
#include "InterruptPlatform.h"

namespace tagscope::cli {

namespace {

BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            OnInterrupt();
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void InstallInterruptHandling() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

}  // namespace tagscope::cli
