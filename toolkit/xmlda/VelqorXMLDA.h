// The XML-DA connection: the object the component model gets for an "http://" or "https://"
// server name. Connecting asks the service for its status; it serves the server status, error
// texts and item properties, creates the address-space browser, and keeps an estimate of the
// service's clock for the subscription polling.
//
// Groups and browsers reach their connection through the contract:
//
//   TVelqorXMLDAConnection& c = XMLDAConnectionOf(daConnection);   // from IVelqorConnection
//   TVelqorSOAPData& s = c.GetCallSettings();                       // owning thread
//   auto reply = c.Call(request);                                   // or CallOperation(s, request)
//   double hold = c.ServerNow() + holdMs / 86400000.0;              // any thread
//
// and keep the connection alive through TVelqorXMLDAComponent.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "xmlda/VelqorXML.h"
#include "xmlda/VelqorXMLDAConvert.h"

namespace velqor {

// Design mode of the XML-DA transport: one process-wide flag, set by the connection factory
// from the owning component. When on, CheckConnection succeeds without a request and groups
// start no polling. Thread-safe.
void SetXMLDADesignMode(bool on);
bool XMLDADesignMode();

class TVelqorXMLDAConnection : public TVelqorXMLConnection {
  public:
    // designing: the owning component's design-mode flag (stored process-wide).
    explicit TVelqorXMLDAConnection(bool designing = false);

    // Connect with a GetStatus exchange (StatusCheck); on success the clock is cleared.
    void Connect(const std::string& clientName, const std::string& serverName,
                 const std::string& computerName, const ParamLines& params,
                 velqor::NotifyWindow window, int32_t connectDelay) override;
    // Keep-alive probe: a GetStatus exchange; never raises (false on any error). A transport
    // failure also posts the shutdown message.
    bool CheckConnection() override;

    // IVelqorDAConnection. GetItemProperties: one GetProperties exchange for all items, replies
    // paired with items by position; false without a request for no items, and false when the
    // reply has no property lists; a reply with more lists than items raises
    // EOPCServerException and fills nothing. GetItemPropertyValue: no operation. GetStatus:
    // EOPCServerException "wrong result from OPC Server (GetStatus)" when the reply lacks
    // GetStatusResult or Status.
    VELQOR_IVELQORDACONNECTION_SLOTS;

    // The service's clock. UpdateClock records the first reply's ReplyTime and the local time
    // it was processed (later replies change nothing until the next Connect or ClearClock);
    // ServerNow = now - LocalTimeAtFirstReply + ServerTimeAtFirstReply (the local clock before
    // the first reply). Safe from any thread.
    void UpdateClock(const xmlda::ReplyBase* replyHeader);
    double ServerNow() const;
    void ClearClock();
    double ServerTimeAtFirstReply() const;
    double LocalTimeAtFirstReply() const;

  protected:
    // GetStatus with the notification window cleared, so a failing connect posts no shutdown
    // message; failure raises EOPCServerException "Unable to connect to OPC server <URL>" CR LF
    // the underlying message.
    void StatusCheck() override;

  private:
    mutable std::mutex clockMu_;
    double serverTimeAtFirstReply_ = 0;
    double localTimeAtFirstReply_ = 0;
};

// The XML-DA connection behind a contract connection (its ConnectionObject); raises
// EOPCServerException "Not connected to server" for none and a plain error for a connection of
// another transport.
inline TVelqorXMLDAConnection& XMLDAConnectionOf(IVelqorConnection* connection) {
    return DAConnectionObjectOf<TVelqorXMLDAConnection>(connection);
}
inline TVelqorXMLDAConnection& XMLDAConnectionOf(const com::ComPtr<IVelqorDAConnection>& c) {
    return XMLDAConnectionOf(c.Get());
}

// Base of the XML-DA group and browser: holds a reference to the connection they were made for.
class TVelqorXMLDAComponent : public TVelqorXMLComponent,
                              public TDAConnectionRef<TVelqorXMLDAConnection> {
  public:
    explicit TVelqorXMLDAComponent(com::ComPtr<IVelqorDAConnection> connection, int32_t tag = 0)
        : TVelqorXMLComponent(tag), TDAConnectionRef(std::move(connection)) {}
};

}  // namespace velqor
