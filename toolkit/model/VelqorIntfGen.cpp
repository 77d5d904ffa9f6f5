#include "model/VelqorIntfGen.h"

#include "contract/VelqorError.h"
#include "xmlda/VelqorXML.h"
#include "xmlda/VelqorXMLDA.h"
#include "xmlda/VelqorXMLDAGroup.h"

namespace velqor {

namespace {
[[noreturn]] void Unavailable(tVelqorConnectionType type) {
    throw Exception(type == coXML ? "XML-DA transport not available"
                                  : "COM DA transport not available");
}
[[noreturn]] void UnknownType() { throw Exception(MsgText(Msg::UnknownConnectionType)); }
}  // namespace

com::ComPtr<IVelqorConnection> CreateVelqorConnection(tVelqorConnectionType type, bool designing) {
    com::ComPtr<IVelqorConnection> c;
    switch (type) {
        case coXML:
            c = com::MakeComObject<IVelqorConnection, TVelqorXMLDAConnection>(designing);
            break;
        case coCOM:
            Unavailable(coCOM);
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
            Unavailable(coCOM);
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
            Unavailable(coCOM);
        default:
            UnknownType();
    }
    if (!s) UnknownType();
    return s;
}

}  // namespace velqor
