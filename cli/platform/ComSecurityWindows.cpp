// Windows: COM for the whole run on the main thread, and the process's DCOM security set
// before the first COM object is made (afterwards the system refuses with RPC_E_TOO_LATE).
#include <cstdio>
#include <ostream>

#include "ComSecurity.h"
#include "com/runtime/ComPlatform.h"
#include "contract/VelqorIntf.h"

namespace tagscope::cli {

namespace {
// The tables' numbers are the platform's.
static_assert(RPC_C_AUTHN_LEVEL_NONE == 1 && RPC_C_AUTHN_LEVEL_CONNECT == 2 &&
              RPC_C_AUTHN_LEVEL_CALL == 3 && RPC_C_AUTHN_LEVEL_PKT == 4 &&
              RPC_C_AUTHN_LEVEL_PKT_INTEGRITY == 5 && RPC_C_AUTHN_LEVEL_PKT_PRIVACY == 6);
static_assert(RPC_C_IMP_LEVEL_ANONYMOUS == 1 && RPC_C_IMP_LEVEL_IDENTIFY == 2 &&
              RPC_C_IMP_LEVEL_IMPERSONATE == 3 && RPC_C_IMP_LEVEL_DELEGATE == 4);

void Warn(std::ostream& out, const char* what, HRESULT hr) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    std::string text = velqor::ResultMessage(hr);
    if (hr == RPC_E_TOO_LATE) text = "they were set in this process before";
    out << "warning: " << what << ": " << (text.empty() ? "failed" : text) << " (" << code << ")\n";
}
}  // namespace

ProcessCom::ProcessCom(const ComSecurity& security, std::ostream& warnings) {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    initialized_ = SUCCEEDED(init);
    if (!initialized_) {
        Warn(warnings, "COM could not be initialised", init);
        return;
    }
    // Any principal may call back (no access list); the system picks the authentication
    // services; no capabilities beyond the levels.
    const HRESULT hr = CoInitializeSecurity(nullptr, -1, nullptr, nullptr, security.authLevel,
                                            security.impersonation, nullptr, EOAC_NONE, nullptr);
    if (FAILED(hr)) Warn(warnings, "the COM security levels could not be set", hr);
}

ProcessCom::~ProcessCom() {
    if (initialized_) CoUninitialize();
}

}  // namespace tagscope::cli
