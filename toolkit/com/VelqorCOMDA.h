// The COM DA connection: the object the component model gets for a COM server name. It adds the
// Data Access operations to the COM connection: server status, the server's and the toolkit's
// error texts, item properties (IOPCBrowse::GetProperties on DA 3.0 servers, IOPCItemProperties
// on DA 2.0 servers, with a fall-back from the first to the second) and the lookup of a
// property's item ID.
//
// Groups and browsers reach their connection through TVelqorCOMDAComponent:
//
//   TVelqorCOMDAConnection& c = COMDAConnectionOf(daConnection);
//   com::ComPtr<IOPCServer> server = c.GetOPCServer();
//
// Every array and string a server returns is freed here with CoTaskMemFree / SysFreeString,
// and every VARIANT copied out of server memory is cleared. A server answering with a missing
// array where its answer promises one raises EOPCServerException "wrong result from OPC Server
// (<method>)".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "com/VelqorCom.h"

namespace velqor {

class TVelqorCOMDAConnection : public TVelqorCOMConnection {
  public:
    // IVelqorConnection: true when a status request succeeds.
    // The keep-alive probe: a status call, bounded by kProbeLimitMs.
    bool CheckConnection() override;
    static constexpr uint32_t kProbeLimitMs = 10000;

    // IVelqorDAConnection. GetServerErrorString: the server's own text (locale 0), empty when
    // the server has none; GetErrorString: the result table's text, empty for an unknown code,
    // no server call; GetItemPropertyValue: the item ID under which that property of the item
    // can be read, empty when none.
    VELQOR_IVELQORDACONNECTION_SLOTS;

    // The server's IOPCServer; empty when not connected; EOleSysError E_NOINTERFACE for a server
    // object without it.
    com::ComPtr<IOPCServer> GetOPCServer();
    // Cached after the first query; empty when the server lacks them.
    com::ComPtr<IOPCItemProperties> GetItemPropertiesIntf();
    com::ComPtr<IOPCBrowse> GetBrowseIntf();
    bool SupportsBrowseServerAddressSpace();

    // IOPCServer::GetStatus through CheckOPCResult; the structure and its vendor text are
    // copied and freed. EOPCServerException "Not connected to server" for a null answer.
    void RawStatus(OPCSERVERSTATUS& status, std::string& vendorInfo);

  protected:
    void AfterConnect() override;
    void ReleaseServer() override;

  private:
    // The two ways of reading properties; each returns true when every item succeeded.
    bool PropertiesFromBrowse(IOPCBrowse* browse, std::vector<TVelqorItemPropertyQuery>& items,
                              const std::vector<std::string>& propertyFilter, bool withValues,
                              bool raiseOnError);
    bool PropertiesFromItemProperties(std::vector<TVelqorItemPropertyQuery>& items,
                                      const std::vector<std::string>& propertyFilter,
                                      bool withValues, bool raiseOnError);
    HRESULT QueryAvailableProperties(const std::string& itemID,
                                     std::vector<TVelqorItemProperty>& list);
    bool ReadPropertyValues(const std::string& itemID, std::vector<TVelqorItemProperty>& list);

    com::ComPtr<IOPCItemProperties> itemPropertiesIntf_;
    std::unique_ptr<TGIP> itemPropertiesHolder_;
    com::ComPtr<IOPCBrowse> browseIntf_;
    std::unique_ptr<TGIP> browseHolder_;
};

// The COM DA connection behind a contract connection (its ConnectionObject); raises
// EOPCServerException "Not connected to server" for none and a plain error for a connection of
// another transport.
inline TVelqorCOMDAConnection& COMDAConnectionOf(IVelqorConnection* connection) {
    return DAConnectionObjectOf<TVelqorCOMDAConnection>(connection);
}

// Base of the COM group and browsers: holds a reference to the connection they were made for.
class TVelqorCOMDAComponent : public TVelqorCOMComponent,
                              public TDAConnectionRef<TVelqorCOMDAConnection> {
  public:
    explicit TVelqorCOMDAComponent(com::ComPtr<IVelqorDAConnection> connection)
        : TDAConnectionRef(std::move(connection)) {}
};

}  // namespace velqor
