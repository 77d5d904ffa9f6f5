#include "model/VelqorIntfGen.h"

#include "com/VelqorCOMDA.h"
#include "com/VelqorCOMDAGroup.h"
#include "com/VelqorComServerList.h"
#include "contract/VelqorError.h"
#if VELQOR_WITH_XMLDA
#include "xmlda/VelqorXML.h"
#include "xmlda/VelqorXMLDA.h"
#include "xmlda/VelqorXMLDAGroup.h"
#endif

namespace velqor {

namespace {
[[noreturn]] void UnknownType() { throw Exception(MsgText(Msg::UnknownConnectionType)); }
#if !VELQOR_WITH_XMLDA
// A build without the XML-DA transport (the Windows build) says so for web-service addresses.
[[noreturn]] void NoXmlDa() { throw Exception(MsgText(Msg::ProtocolNotSupported)); }
#endif
}  // namespace

com::ComPtr<IVelqorConnection> CreateVelqorConnection(tVelqorConnectionType type,
                                                      [[maybe_unused]] bool designing) {
    com::ComPtr<IVelqorConnection> c;
    switch (type) {
        case coXML:
#if VELQOR_WITH_XMLDA
            c = com::MakeComObject<IVelqorConnection, TVelqorXMLDAConnection>(designing);
#else
            NoXmlDa();
#endif
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
#if VELQOR_WITH_XMLDA
            g = com::MakeComObject<IVelqorGroup, TVelqorXMLGroup>(connection);
#else
            NoXmlDa();
#endif
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
#if VELQOR_WITH_XMLDA
            s = com::MakeComObject<IVelqorServerBrowser, tVelqorXMLServerBrowser>(0);
#else
            NoXmlDa();
#endif
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
