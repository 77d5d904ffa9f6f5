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
        case E_HANDLE:
            return "The handle is invalid.";
        case E_ACCESSDENIED:
            return "Access is denied.";
        case CLASS_E_CLASSNOTAVAILABLE:
            return "ClassFactory cannot supply requested class";
        case REGDB_E_READREGDB:
            return "Could not read key from registry";
        case CO_E_NOTINITIALIZED:
            return "CoInitialize has not been called.";
        case CO_E_CLASSSTRING:
            return "Invalid class string";
        case CO_S_NOTALLINTERFACES:
            return "Not all the requested interfaces were available";
        case RPC_E_CHANGED_MODE:
            return "Cannot change thread mode after it is set.";
        case RPC_E_CALL_CANCELED:
            return "Call was canceled by the message filter.";
        case CO_E_NOT_SUPPORTED:
            return "This operation is not supported";
        case RPC_S_SERVER_UNAVAILABLE_HR:
            return "The RPC server is unavailable.";
        case CONNECT_E_NOCONNECTION:
            return "There is no connection for this connection ID";
        case CONNECT_E_ADVISELIMIT:
            return "This implementation's limit for advisory connections has been reached";
        case CONNECT_E_CANNOTCONNECT:
            return "Connection attempt failed";
        case OLE_E_ADVISENOTSUPPORTED:
            return "This implementation doesn't take advises";
        case OLE_E_NOCONNECTION:
            return "There is no connection for this connection ID";
        case DV_E_FORMATETC:
            return "Invalid FORMATETC structure";
        case DV_E_TYMED:
            return "Invalid tymed";
        case DISP_E_BADVARTYPE:
            return "Bad variable type.";
        case DISP_E_BADINDEX:
            return "Invalid index.";
        case DISP_E_ARRAYISLOCKED:
            return "Memory is locked.";
        default:
            break;
    }
    static thread_local char buf[40];
    std::snprintf(buf, sizeof buf, "Unknown error 0x%08X", static_cast<unsigned>(hr));
    return buf;
}

}  // namespace velqor::com
