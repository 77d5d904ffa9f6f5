#include "VelqorError.h"

#include <string>

#include "VelqorTransport.h"

namespace velqor {

const char* MsgText(Msg id) {
    switch (id) {
        case Msg::NotConnected:
            return "Not connected to server";
        case Msg::ServerNameNotFound:
            return "Server name not found in registry or empty";
        case Msg::UnableToConnect:
            return "Unable to connect to OPC server %s";
        case Msg::BrowserNotFound:
            return "Browser interface not found";
        case Msg::UnknownError:
            return "Unknown error : %d";
        case Msg::GroupNotFound:
            return "Group not found";
        case Msg::GroupExists:
            return "Group %s already exists";
        case Msg::ItemNotExists:
            return "Item %s not exists on OPC server";
        case Msg::ItemExists:
            return "Item %s already exists on OPC server";
        case Msg::NotPossibleConnected:
            return "Not possible if connected to OPC server";
        case Msg::CannotWriteItems:
            return "Cannot write Items:";
        case Msg::CannotAddItems:
            return "Cannot add Items:";
        case Msg::ProtocolNotSupported:
            return "Protocol not supported";
        case Msg::NotImplemented:
            return "Not implemented";
        case Msg::UnknownConnectionType:
            return "unknown connection type";
        case Msg::OverrideCreateConnection:
            return "please override CreateConnection";
        case Msg::ServerListNotFound:
            return "unknown error: interface IOPCServerList not found";
        case Msg::WrongResultGetStatus:
            return "wrong result from OPC Server (GetStatus)";
        case Msg::WrongResultSubscribe:
            return "wrong result from OPC Server (Subscribe)";
        case Msg::ErrorGetEUType:
            return "error GetEUType";
        case Msg::ItemNotInList:
            return "item not exists in list";
        case Msg::FirstDefineServer:
            return "first define server object";
        case Msg::ServerNotActive:
            return "OPC server not active";
        case Msg::FirstCallSetBrowseList:
            return "first call method SetBrowseList";
        case Msg::OPCCommand:
            return "OPC Command:";
        case Msg::NoResult:
            return "no result from the server";
        case Msg::WrongResult:
            return "wrong result from OPC Server (%s)";
        case Msg::NoAdviseConnection:
            return "Group %s has no data connection for asynchronous calls";
        case Msg::CallTimedOut:
            return "The server did not answer within %d ms";
    }
    return "";
}

namespace {
// Replaces the first %s or %d of the catalogue text with arg, as it stands.
std::string Fill(const char* text, std::string_view arg) {
    std::string s = text;
    for (size_t i = 0; i + 1 < s.size(); ++i) {
        if (s[i] == '%' && (s[i + 1] == 's' || s[i + 1] == 'd')) {
            s.replace(i, 2, arg);
            break;
        }
    }
    return s;
}
}  // namespace

std::string MsgFormat(Msg id, std::string_view arg) { return Fill(MsgText(id), arg); }
std::string MsgFormat(Msg id, int32_t arg) { return Fill(MsgText(id), std::to_string(arg)); }

void RaiseNoConnectionObject(bool none) {
    if (none) throw EOPCServerException(MsgText(Msg::NotConnected));
    throw Exception(MsgText(Msg::UnknownConnectionType));
}

void RaiseWrongResult(std::string_view method) {
    throw EOPCServerException(MsgFormat(Msg::WrongResult, method));
}

}  // namespace velqor
