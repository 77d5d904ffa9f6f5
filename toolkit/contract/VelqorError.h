// The toolkit's exception family and its one message catalogue.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/Exception.h"

namespace velqor {

// Root of the toolkit's own OPC errors.
class EOPCException : public Exception {
  public:
    using Exception::Exception;
};
class EOPCServerException : public EOPCException {
  public:
    using EOPCException::EOPCException;
};
class EOPCServerListException : public EOPCServerException {
  public:
    using EOPCServerException::EOPCServerException;
};
class EOPCGroupException : public EOPCException {
  public:
    using EOPCException::EOPCException;
};
class EOPCItemException : public EOPCException {
  public:
    using EOPCException::EOPCException;
};
class EOPCBrowserException : public EOPCException {
  public:
    using EOPCException::EOPCException;
};

// Errors of the SOAP and HTTP layer.
class EVelqorDateTimeException : public Exception {
  public:
    using Exception::Exception;
};
class EVelqorSOAPConvertError : public Exception {
  public:
    using Exception::Exception;
};
class EVelqorSOAPFault : public Exception {
  public:
    using Exception::Exception;
    EVelqorSOAPFault(const std::string& message, std::string code, std::string reason)
        : Exception(message), code_(std::move(code)), reason_(std::move(reason)) {}
    const std::string& FaultCode() const { return code_; }
    const std::string& FaultString() const { return reason_; }

  private:
    std::string code_, reason_;
};
class EVelqorSOAPConnect : public Exception {
  public:
    using Exception::Exception;
};

// The silent abort: the user cancelled (for example a credentials prompt). User interfaces
// never show it.
class EAbort : public Exception {
  public:
    EAbort() : Exception("Operation aborted") {}
    using Exception::Exception;
};

// The message catalogue: every fixed toolkit text, looked up by identifier when raised.
enum class Msg {
    NotConnected,              // "Not connected to server"
    ServerNameNotFound,        // "Server name not found in registry or empty"
    UnableToConnect,           // "Unable to connect to OPC server %s"
    BrowserNotFound,           // "Browser interface not found"
    UnknownError,              // "Unknown error : %d"
    GroupNotFound,             // "Group not found"
    GroupExists,               // "Group %s already exists"
    ItemNotExists,             // "Item %s not exists on OPC server"
    ItemExists,                // "Item %s already exists on OPC server"
    NotPossibleConnected,      // "Not possible if connected to OPC server"
    CannotWriteItems,          // "Cannot write Items:"
    CannotAddItems,            // "Cannot add Items:"
    ProtocolNotSupported,      // "Protocol not supported"
    NotImplemented,            // "Not implemented"
    UnknownConnectionType,     // "unknown connection type"
    OverrideCreateConnection,  // "please override CreateConnection"
    ServerListNotFound,        // "unknown error: interface IOPCServerList not found"
    WrongResultGetStatus,      // "wrong result from OPC Server (GetStatus)"
    WrongResultSubscribe,      // "wrong result from OPC Server (Subscribe)"
    ErrorGetEUType,            // "error GetEUType"
    ItemNotInList,             // "item not exists in list"
    FirstDefineServer,         // "first define server object"
    ServerNotActive,           // "OPC server not active"
    FirstCallSetBrowseList,    // "first call method SetBrowseList"
    OPCCommand,                // "OPC Command:"
    NoResult,                  // "no result from the server"
    WrongResult,               // "wrong result from OPC Server (%s)"
    NoAdviseConnection,        // "Group %s has no data connection for asynchronous calls"
    CallTimedOut,              // "The server did not answer within %d ms"
};

// The catalogue text of a message, unformatted.
const char* MsgText(Msg id);
// The text with its one %s (or %d) filled in.
std::string MsgFormat(Msg id, std::string_view arg);
std::string MsgFormat(Msg id, int32_t arg);

// A server answered a call with something it cannot have meant (an array it owes missing):
// raises EOPCServerException "wrong result from OPC Server (<method>)".
[[noreturn]] void RaiseWrongResult(std::string_view method);

}  // namespace velqor
