#include "HResult.h"

#include <cstdio>

namespace velqor::com {

const char* SystemMessageText(HRESULT hr) {
    switch (hr) {
        case S_OK:
            return "The operation completed successfully.";
        case S_FALSE:
            return "Incorrect function.";
        case E_NOTIMPL:
            return "Not implemented";
        case E_NOINTERFACE:
            return "No such interface supported";
        case E_POINTER:
            return "Invalid pointer";
        case E_ABORT:
            return "Operation aborted";
        case E_FAIL:
            return "Unspecified error";
        case E_UNEXPECTED:
            return "Catastrophic failure";
        case E_OUTOFMEMORY:
            return "Not enough memory resources are available to complete this operation.";
        case E_INVALIDARG:
            return "The parameter is incorrect.";
        case CLASS_E_NOAGGREGATION:
            return "Class does not support aggregation (or class object is remote)";
        case REGDB_E_CLASSNOTREG:
            return "Class not registered";
        case DISP_E_TYPEMISMATCH:
            return "Type mismatch.";
        case DISP_E_OVERFLOW:
            return "Out of present range.";
        default:
            break;
    }
    static thread_local char buf[40];
    std::snprintf(buf, sizeof buf, "Unknown error 0x%08X", static_cast<unsigned>(hr));
    return buf;
}

}  // namespace velqor::com
