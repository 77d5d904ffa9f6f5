// The transport contract: reference-counted interfaces that every transport implements and the
// component model speaks through. Operations follow in the contract's slot order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "contract/EventLoop.h"
#include "contract/VelqorIntf.h"
#include "contract/VelqorItemData.h"
#include "runtime/Unknown.h"

namespace velqor {

using ParamLines = std::vector<std::string>;  // "name=value" lines

class IVelqorBrowser;

class IVelqorConnection : public com::IUnknown {
  public:
    static constexpr com::IID IID_ = com::MakeGuid("2E0EDBB1-C374-4575-B7AC-0CCBAB0973B9");
    using Base = com::IUnknown;

    // 3: open the connection; keep window for posting messages; raise on failure.
    virtual void Connect(const std::string& clientName, const std::string& serverName,
                         const std::string& computerName, const ParamLines& params,
                         NotifyWindow window, int32_t connectDelay) = 0;
    virtual void Disconnect() = 0;                            // 4
    virtual int32_t GetLocaleId() = 0;                        // 5
    virtual void SetLocaleId(int32_t localeId) = 0;           // 6
    virtual int32_t SpecVersion() = 0;                        // 7: 1, 2, 3 (COM DA), 4 (XML-DA)
    virtual com::IUnknown* ConnectionObject() = 0;            // 8: the implementing object
    virtual tVelqorConnectionType ConnectionType() = 0;       // 9
    virtual bool SetClientName(const std::string& name) = 0;  // 10
    virtual bool CheckConnection() = 0;                       // 11: keep-alive probe

  protected:
    ~IVelqorConnection() = default;
};

class IVelqorDAConnection : public IVelqorConnection {
  public:
    static constexpr com::IID IID_ = com::MakeGuid("B64D9A7C-1FA9-4AC3-9049-3C36448580DD");
    using Base = IVelqorConnection;

    virtual void GetServerErrorString(int32_t code, std::string& text) = 0;  // 12
    virtual void GetErrorString(int32_t code, std::string& text) = 0;        // 13
    // 14: fill each query's property list. propertyFilter holds decimal identifiers (empty = all).
    virtual bool GetItemProperties(std::vector<TVelqorItemPropertyQuery>& items,
                                   const std::vector<std::string>& propertyFilter, bool withValues,
                                   bool raiseOnError) = 0;
    virtual void GetItemPropertyValue(const std::string& itemID, int32_t propertyID,
                                      std::string& text) = 0;              // 15
    virtual void GetStatus(tServerStateRecord& status) = 0;                // 16
    virtual void CreateBrowser(com::ComPtr<IVelqorBrowser>& browser) = 0;  // 17

  protected:
    ~IVelqorDAConnection() = default;
};

// The IVelqorDAConnection slots as a connection class declares them.
#define VELQOR_IVELQORDACONNECTION_SLOTS                                                        \
    void GetServerErrorString(int32_t code, std::string& text) override;                        \
    void GetErrorString(int32_t code, std::string& text) override;                              \
    bool GetItemProperties(std::vector<TVelqorItemPropertyQuery>& items,                        \
                           const std::vector<std::string>& propertyFilter, bool withValues,     \
                           bool raiseOnError) override;                                         \
    void GetItemPropertyValue(const std::string& itemID, int32_t propertyID, std::string& text) \
        override;                                                                               \
    void GetStatus(tServerStateRecord& status) override;                                        \
    void CreateBrowser(com::ComPtr<IVelqorBrowser>& browser) override

class IVelqorGroup : public com::IUnknown {
  public:
    static constexpr com::IID IID_ = com::MakeGuid("0B39CD52-407F-4983-A1EF-33E36ACAA2C3");
    using Base = com::IUnknown;

    virtual void Remove(bool serverShutDown, int32_t& serverHandle) = 0;  // 3
    virtual void SetName(const std::string& name) = 0;                    // 4
    virtual void GetState(tVelqorGroupStateRec& state) = 0;               // 5
    virtual void SetState(int32_t& updateRate, bool active, int32_t timeBias, float deadBand,
                          int32_t localeId, int32_t clientHandle, int32_t holdTime,
                          int32_t waitTime) = 0;                                // 6
    virtual bool WriteSync(TVelqorItemList& items) = 0;                         // 7
    virtual bool WriteAsync(TVelqorItemList& items) = 0;                        // 8
    virtual bool ReadAsync(TVelqorItemList& items) = 0;                         // 9
    virtual bool ReadSync(TVelqorItemList& items, bool fromCache) = 0;          // 10
    virtual bool GetItemAttributes(TVelqorItemList& items) = 0;                 // 11
    virtual void Cancel() = 0;                                                  // 12
    virtual void Refresh(bool fromCache) = 0;                                   // 13
    virtual bool AddItems(TVelqorItemList& items, bool add) = 0;                // 14
    virtual bool RemoveItems(bool serverShutDown, TVelqorItemList& items) = 0;  // 15
    virtual bool SetActiveState(TVelqorItemList& items, bool active) = 0;       // 16
    virtual bool SetDatatypes(TVelqorItemList& items) = 0;                      // 17
    virtual void Reserved() = 0;                                                // 18
    virtual void Create(int32_t& serverHandle, const std::string& name, int32_t clientHandle,
                        bool active, float deadBand, int32_t timeBias, int32_t localeId,
                        int32_t& updateRate, bool subscribe, int32_t holdTime,
                        int32_t waitTime) = 0;  // 19

  protected:
    ~IVelqorGroup() = default;
};

// Raises for a connection without the asked transport's object behind it: EOPCServerException
// "Not connected to server" for none, a plain error for a connection of another transport.
[[noreturn]] void RaiseNoConnectionObject(bool none);

// The transport's own connection object behind a contract connection (its ConnectionObject).
template <class C>
C& DAConnectionObjectOf(IVelqorConnection* connection) {
    auto* c = connection ? dynamic_cast<C*>(connection->ConnectionObject()) : nullptr;
    if (!c) RaiseNoConnectionObject(connection == nullptr);
    return *c;
}

// What a transport's groups and browsers hold: a reference to the connection they were made
// for, and its transport object C.
template <class C>
class TDAConnectionRef {
  public:
    explicit TDAConnectionRef(com::ComPtr<IVelqorDAConnection> connection)
        : holder_(std::move(connection)), connection_(&DAConnectionObjectOf<C>(holder_.Get())) {}
    C& Connection() const { return *connection_; }
    const com::ComPtr<IVelqorDAConnection>& ConnectionRef() const { return holder_; }

  private:
    com::ComPtr<IVelqorDAConnection> holder_;
    C* connection_;
};

// The IVelqorGroup slots as a group class declares them; the list lives once, beside the
// interface, and each transport defines them in its own source.
#define VELQOR_IVELQORGROUP_SLOTS                                                                  \
    void Remove(bool serverShutDown, int32_t& serverHandle) override;                              \
    void SetName(const std::string& name) override;                                                \
    void GetState(tVelqorGroupStateRec& state) override;                                           \
    void SetState(int32_t& updateRate, bool active, int32_t timeBias, float deadBand,              \
                  int32_t localeId, int32_t clientHandle, int32_t holdTime, int32_t waitTime)      \
        override;                                                                                  \
    bool WriteSync(TVelqorItemList& items) override;                                               \
    bool WriteAsync(TVelqorItemList& items) override;                                              \
    bool ReadAsync(TVelqorItemList& items) override;                                               \
    bool ReadSync(TVelqorItemList& items, bool fromCache) override;                                \
    bool GetItemAttributes(TVelqorItemList& items) override;                                       \
    void Cancel() override;                                                                        \
    void Refresh(bool fromCache) override;                                                         \
    bool AddItems(TVelqorItemList& items, bool add) override;                                      \
    bool RemoveItems(bool serverShutDown, TVelqorItemList& items) override;                        \
    bool SetActiveState(TVelqorItemList& items, bool active) override;                             \
    bool SetDatatypes(TVelqorItemList& items) override;                                            \
    void Reserved() override;                                                                      \
    void Create(int32_t& serverHandle, const std::string& name, int32_t clientHandle, bool active, \
                float deadBand, int32_t timeBias, int32_t localeId, int32_t& updateRate,           \
                bool subscribe, int32_t holdTime, int32_t waitTime) override

// How a transport group recovers a subscription that the server dropped, or lost with the
// server: it subscribes its items again after a wait that doubles from FirstDelayMs up to
// MaxDelayMs after each failed attempt, and gives up (the group becomes inactive) after
// MaxAttempts failed attempts or GiveUpAfterMs since the loss, whichever comes first (0: no
// such limit). Disabled: the group becomes inactive at the first loss.
struct TVelqorResubscribe {
    bool Enabled = true;
    int32_t FirstDelayMs = 500;
    int32_t MaxDelayMs = 30000;
    int32_t MaxAttempts = 0;
    int32_t GiveUpAfterMs = 600000;
};

// Optional interface of a transport group that can recover its subscription.
class IVelqorGroupRecovery : public com::IUnknown {
  public:
    static constexpr com::IID IID_ = com::MakeGuid("62D5EDE8-E5AE-4F26-ADD6-1593192C5773");
    using Base = com::IUnknown;

    virtual void SetResubscribe(const TVelqorResubscribe& policy) = 0;

  protected:
    ~IVelqorGroupRecovery() = default;
};

// Optional interface of a transport browser whose service takes a vendor-specific filter (the
// XML-DA VendorFilter); a browser without it has no such filter.
class IVelqorBrowserVendorFilter : public com::IUnknown {
  public:
    static constexpr com::IID IID_ = com::MakeGuid("3F7B1C52-9A0D-4E61-8C2B-5D4E6F708192");
    using Base = com::IUnknown;

    // Sent with every later browse request; empty sends none.
    virtual void SetVendorFilter(const std::string& filter) = 0;

  protected:
    ~IVelqorBrowserVendorFilter() = default;
};

class IVelqorBrowser : public com::IUnknown {
  public:
    static constexpr com::IID IID_ = com::MakeGuid("B17D0EFD-A7E8-4DA3-BC3B-DE22AE3E73E9");
    using Base = com::IUnknown;

    virtual int32_t Organization() = 0;                        // 3: 1 hierarchical, 2 flat
    virtual bool MoveDown(const TVelqorBrowseItem& item) = 0;  // 4
    virtual bool MoveTo(const TVelqorBrowseItem& item) = 0;    // 5
    virtual bool MoveToRoot() = 0;                             // 6
    virtual bool MoveUp() = 0;                                 // 7
    virtual TVelqorBrowseItem* Position() = 0;                 // 8: owned by the browser
    // 9: browseType 1 branches, 2 items, 3 both; accessRights bits (0 any); datatype (0 any).
    virtual void SetFilter(int32_t browseType, int32_t accessRights, int32_t datatype,
                           const std::string& filter) = 0;
    virtual bool Browse(bool flat) = 0;                        // 10
    virtual void SetBrowseList(TVelqorBrowseItems* list) = 0;  // 11
    // 12: what the last listing left out: one text per level that could not be listed or came
    // back short, empty when it is complete. A listing with gaps still shows what was found.
    virtual std::vector<std::string> Gaps() = 0;

  protected:
    ~IVelqorBrowser() = default;
};

// Called once per server report: description, program identifier, class identifier, type bit.
using TServerReport = std::function<void(const std::string& description, const std::string& progID,
                                         const std::string& clsid, uint32_t serverType)>;

class IVelqorServerBrowser : public com::IUnknown {
  public:
    static constexpr com::IID IID_ = com::MakeGuid("EE37583A-B0C2-41C2-A263-CEAE0601CD55");
    using Base = com::IUnknown;

    // 3: flags 2 enumerates each requested type separately (reports carry its bit), else 0.
    virtual void GetServerList(tVelqorServerSet serverTypes, const std::string& computerName,
                               int32_t flags, const TServerReport& onServer) = 0;
    // 4: what the last listing left out (an enumeration that broke off or went past its bound),
    // empty when it is complete; the servers reported before stand.
    virtual std::vector<std::string> Gaps() = 0;

  protected:
    ~IVelqorServerBrowser() = default;
};

}  // namespace velqor
