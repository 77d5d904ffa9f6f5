#include "model/VelqorIntfGen.h"

#include "com/VelqorCOMDA.h"
#include "com/VelqorCOMDAGroup.h"
#include "com/VelqorComServerList.h"
#include "contract/VelqorError.h"
#include "xmlda/VelqorXML.h"
#include "xmlda/VelqorXMLDA.h"
#include "xmlda/VelqorXMLDAGroup.h"

namespace velqor {

namespace {
[[noreturn]] void UnknownType() { throw Exception(MsgText(Msg::UnknownConnectionType)); }
}  // namespace

com::ComPtr<IVelqorConnection> CreateVelqorConnection(tVelqorConnectionType type, bool designing) {
    com::ComPtr<IVelqorConnection> c;
    switch (type) {
        case coXML:
            c = com::MakeComObject<IVelqorConnection, TVelqorXMLDAConnection>(designing);
            break;
        case coCOM:
            c = com::MakeComObject<IVelqorConnection, TVelqorCOMDAConnection>();
            break;
        default:
            UnknownType();
    }
    if (!c) UnknownType();
    return c;
}

com::ComPtr<IVelqorGroup> CreateVelqorGroup(const com::ComPtr<IVelqorDAConnection>& connection) {
    if (!connection) UnknownType();
    com::ComPtr<IVelqorGroup> g;
    switch (connection->ConnectionType()) {
        case coXML:
            g = com::MakeComObject<IVelqorGroup, TVelqorXMLGroup>(connection);
            break;
        case coCOM:
            g = com::MakeComObject<IVelqorGroup, TVelqorCOMGroup>(connection);
            break;
        default:
            UnknownType();
    }
    if (!g) UnknownType();
    return g;
}

com::ComPtr<IVelqorBrowser> CreateVelqorBrowser(
    const com::ComPtr<IVelqorDAConnection>& connection) {
    com::ComPtr<IVelqorBrowser> b;
    if (connection) connection->CreateBrowser(b);
    if (!b) UnknownType();
    return b;
}

com::ComPtr<IVelqorServerBrowser> CreateVelqorServerBrowser(tVelqorConnectionType type) {
    com::ComPtr<IVelqorServerBrowser> s;
    switch (type) {
        case coXML:
            s = com::MakeComObject<IVelqorServerBrowser, tVelqorXMLServerBrowser>(0);
            break;
        case coCOM:
            s = com::MakeComObject<IVelqorServerBrowser, TVelqorCOMServerBrowser>();
            break;
        default:
            UnknownType();
    }
    if (!s) UnknownType();
    return s;
}

}  // namespace velqor
