// The component model an application uses: the server component with its groups, items,
// default templates and address-space browser.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "contract/VelqorItemData.h"
#include "model/VelqorComn.h"

namespace velqor {

class TVelqorServer;
class TVelqorGroups;
class TVelqorGroup;
class TVelqorItems;
class TVelqorItem;
class TVelqorBrowser;

// Data change, write error and write complete: the server component as sender and the items
// concerned (the list does not own them and is gone after the call).
using TOnOPCDataChangeEvent =
    std::function<void(TVelqorServer* sender, const TVelqorItemList& items)>;
// News of the subscription behind a group, with the reason of a loss: interrupted (it is being
// made again), recovered, or lost for good (the group is inactive from now on).
using TOnSubscriptionEvent =
    std::function<void(TVelqorServer* sender, TVelqorGroup* group, const std::string& reason)>;
using TOnSubscriptionLostEvent = TOnSubscriptionEvent;

// The classes a server component builds its collections with; a descendant substitutes its own.
using TVelqorGroupsClass = std::function<std::unique_ptr<TVelqorGroups>(TVelqorServer& owner)>;
using TVelqorGroupClass =
    std::function<std::unique_ptr<TVelqorGroup>(TVelqorGroups& owner, int32_t id)>;
using TVelqorItemsClass = std::function<std::unique_ptr<TVelqorItems>(TVelqorGroup& owner)>;
using TVelqorItemClass = std::function<std::unique_ptr<TVelqorItem>(TVelqorItems& owner)>;

// A manual-reset event with a unique decimal name, pulsed on each data change of its group.
class TVelqorNamedEvent {
  public:
    TVelqorNamedEvent();
    const std::string& Name() const { return name_; }
    void Set();
    void Reset();
    // Wakes every current waiter and leaves the event non-signalled.
    void Pulse();
    // True when the event is set or pulsed within the time.
    bool Wait(std::chrono::milliseconds timeout);
    bool IsSet() const;

  private:
    std::string name_;
    mutable std::mutex mu_;
    std::condition_variable cv_;
    bool signalled_ = false;
    uint64_t pulses_ = 0;
};

// Template for new groups.
class TVelqorDefaultGroup {
  public:
    bool IsActive = true;
    int32_t UpdateRate = 1000;
    float DeadBand = 0;
    int32_t LocaleId = 0;
    int32_t TimeBias = 0;
    bool Subscribe = true;           // whether a new group asks for data-change delivery
    TVelqorResubscribe Resubscribe;  // how a new group recovers a lost subscription
};

// Template for items added to a group.
class TVelqorDefaultItem {
  public:
    bool IsActive = true;
    std::string AccessPath;
    VelqorADatatype RequestDataType = vtEMPTY;
};

// ---- items ---------------------------------------------------------------------------------

// A value as text: scalars in their standard text, arrays as "1;2;" with "<...>" around
// nested arrays; "" for an empty value and on failure.
std::string ValueTextOf(const Variant& v);

class TVelqorItem : public TVelqorItemData {
  public:
    explicit TVelqorItem(TVelqorItems& owner);
    ~TVelqorItem() override;

    TVelqorItems& Collection() const { return owner_; }
    TVelqorGroup* Group() const;

    void SetItemID(const std::string& id);
    void SetAccessPath(const std::string& path);
    void SetIsActive(bool on);
    int32_t RequestDatatype() const { return FRequestDatatype; }
    int32_t RequestedDatatype() const { return FRequestedDatatype; }
    void SetRequestDatatype(int32_t type);

    int32_t AccessRights() const { return FAccessRights; }
    void* UserData() const { return FUserData; }
    void SetUserData(void* data) { FUserData = data; }

    // What the next write sends.
    void SetWriteQuality(int32_t quality) { FWriteQuality = quality; }  // negative: none
    void SetWriteTimeStamp(double dt) { FWriteTimeStamp = dt; }         // <= 0: none

    // Engineering-unit type and information, asked from the server on first use.
    int32_t EUType();
    Variant EUInfo();
    // The value as text (ValueTextOf).
    std::string ValueText() const;
    // The error worded through the connection; "" when there is none.
    std::string ErrorText() const override;
    std::string DisplayName() const;

  private:
    friend class TVelqorItems;
    enum class Op { Remove, Add, SetActive, Validate, SetDatatype };
    void RunOperation(Op op, bool active = false);

    TVelqorItems& owner_;
};

// The items of a group, in insertion order; owns them.
class TVelqorItems {
  public:
    explicit TVelqorItems(TVelqorGroup& owner) : owner_(owner) {}
    virtual ~TVelqorItems();
    TVelqorItems(const TVelqorItems&) = delete;
    TVelqorItems& operator=(const TVelqorItems&) = delete;

    TVelqorGroup* Owner() const { return &owner_; }
    int Count() const { return int(items_.size()); }
    TVelqorItem* Items(int index) const { return items_.at(size_t(index)).get(); }
    int IndexOf(const TVelqorItem* item) const;
    // Every item, in collection order.
    TVelqorItemList All() const;

    // A new item with the group's defaults, sent to the server at once unless batched.
    TVelqorItem* AddItem(const std::string& itemID);
    // Adds every item without a server handle in one call (validates in design mode).
    void AddAll();
    // Removes every added item from the server in one call.
    void RemoveAllFromServer();
    void RemoveAll();
    // Destroys one item, removing it from the server first.
    void Delete(int index);
    void RemoveItem(TVelqorItem* item);

  private:
    TVelqorGroup& owner_;
    std::vector<std::unique_ptr<TVelqorItem>> items_;
};

// ---- groups --------------------------------------------------------------------------------

class TVelqorGroup {
  public:
    TVelqorGroup(TVelqorGroups& owner, int32_t id);
    virtual ~TVelqorGroup();
    TVelqorGroup(const TVelqorGroup&) = delete;
    TVelqorGroup& operator=(const TVelqorGroup&) = delete;

    TVelqorGroups& Collection() const { return owner_; }
    TVelqorServer& Server() const;
    // The collection's running ID: the group's client handle towards the transport.
    int32_t ID() const { return id_; }
    int Index() const;

    const std::string& Name() const { return name_; }
    void SetName(const std::string& name);
    bool IsActive() const { return isActive_; }
    void SetIsActive(bool on);
    int32_t UpdateRate() const { return updateRate_; }
    void SetUpdateRate(int32_t ms);
    float DeadBand() const { return deadBand_; }
    void SetDeadBand(float percent);
    int32_t LocaleId() const { return localeId_; }
    void SetLocaleId(int32_t id);
    int32_t TimeBias() const { return timeBias_; }
    void SetTimeBias(int32_t minutes);
    int32_t XMLHoldtime() const { return holdTime_; }
    void SetXMLHoldtime(int32_t ms);
    int32_t XMLWaittime() const { return waitTime_; }
    void SetXMLWaittime(int32_t ms);
    int32_t Tag = 0;

    bool Subscribe() const { return subscribe_; }
    // How a lost subscription is made again (transports that can); from the template.
    const TVelqorResubscribe& Resubscribe() const { return resubscribe_; }
    void SetResubscribe(const TVelqorResubscribe& policy);
    int32_t ServerHandle() const { return serverHandle_; }
    TVelqorDefaultItem& DefaultItem() { return defaultItem_; }
    TVelqorItems& OPCItems() { return *items_; }
    const com::ComPtr<IVelqorGroup>& TransportGroup() const { return transport_; }
    // The group's event while it exists on a server, else nullptr.
    std::shared_ptr<TVelqorNamedEvent> Event() const { return event_; }

    // The transport's view of the group; the record stays as given without a transport group.
    void GetGroupState(tVelqorGroupStateRec& state);
    void PulseEvent();
    std::string DisplayName() const;

    // Creates the group on the server with its items.
    void CreateOnServer();
    // Drops the group from the server; its items lose their server handles.
    void RemoveFromServer();

    // Reads, writes and refreshes over all added items of the group, or over a given list.
    // Per-item failures are reported with the item-error report; the result is true when no
    // item failed. Without a transport group they raise "Not connected to server".
    bool ReadSync(bool fromCache);
    bool ReadSync(TVelqorItemList& items, bool fromCache);
    bool ReadAsync();
    bool ReadAsync(TVelqorItemList& items);
    bool WriteSync();
    bool WriteSync(TVelqorItemList& items);
    bool WriteAsync();
    bool WriteAsync(TVelqorItemList& items);
    bool GetItemAttributes();
    bool GetItemAttributes(TVelqorItemList& items);
    void Refresh(bool fromCache);
    void Cancel();

    TOnOPCDataChangeEvent OnDatachange;

    // Clears the stored active flag without telling the transport (the subscription is gone).
    void MarkInactive() { isActive_ = false; }

  private:
    struct Settings {
        int32_t updateRate;
        bool active;
        int32_t timeBias;
        float deadBand;
        int32_t localeId;
        int32_t holdTime, waitTime;
    };
    Settings Current() const;
    // Sends the settings when a transport group exists and the server is still there;
    // returns the granted update rate (the requested one when nothing was sent).
    int32_t SendState(Settings s);
    TVelqorItemList AddedItems() const;
    IVelqorGroup& RequireTransport() const;
    bool Finish(bool ok, const TVelqorItemList& items, const char* caption) const;

    TVelqorGroups& owner_;
    int32_t id_;
    uint64_t serial_;
    std::string name_;
    bool isActive_;
    int32_t updateRate_;
    float deadBand_;
    int32_t localeId_;
    int32_t timeBias_;
    int32_t holdTime_ = 0, waitTime_ = 0;
    bool subscribe_;
    TVelqorResubscribe resubscribe_;
    int32_t serverHandle_ = -1;
    TVelqorDefaultItem defaultItem_;
    std::unique_ptr<TVelqorItems> items_;
    com::ComPtr<IVelqorGroup> transport_;
    std::shared_ptr<TVelqorNamedEvent> event_;
};

// The groups of a server component, in insertion order; owns them.
class TVelqorGroups {
  public:
    explicit TVelqorGroups(TVelqorServer& owner) : owner_(owner) {}
    virtual ~TVelqorGroups();
    TVelqorGroups(const TVelqorGroups&) = delete;
    TVelqorGroups& operator=(const TVelqorGroups&) = delete;

    TVelqorServer* Owner() const { return &owner_; }
    int Count() const { return int(groups_.size()); }
    TVelqorGroup* Items(int index) const { return groups_.at(size_t(index)).get(); }
    int IndexOf(const TVelqorGroup* group) const;

    // A new group from the template; created on the server when connected. Raises
    // EOPCGroupException "Group %s already exists" for a duplicate or blank name.
    TVelqorGroup* AddGroup(const std::string& name);
    int IndexOfGroup(const std::string& name) const;  // exact, case-sensitive
    TVelqorGroup* FindGroup(const std::string& name) const;
    // The group with that collection ID (the client handle of data changes), or nullptr.
    TVelqorGroup* FindByID(int32_t id) const;
    void RemoveGroup(const std::string& name);
    void Delete(int index);
    void RemoveAll();
    void ConnectAll();
    void DisconnectAll();

  private:
    friend class TVelqorGroup;
    TVelqorServer& owner_;
    std::vector<std::unique_ptr<TVelqorGroup>> groups_;
    int32_t nextID_ = 0;
};

// ---- address-space browser -----------------------------------------------------------------

class TVelqorBrowser {
  public:
    explicit TVelqorBrowser(TVelqorServer* server = nullptr);
    virtual ~TVelqorBrowser();
    TVelqorBrowser(const TVelqorBrowser&) = delete;
    TVelqorBrowser& operator=(const TVelqorBrowser&) = delete;

    TVelqorServer* OPCServer() const { return server_; }
    // Binds to a server component (or none): clears the results and drops the transport browser.
    void SetOPCServer(TVelqorServer* server);

    std::string Filter;  // name pattern with * and ?
    // Passed to the service as its vendor-specific filter (XML-DA); a transport without one
    // refuses a browse with it rather than ignore it.
    std::string VendorFilter;
    VelqorADatatype Datatype = vtEMPTY;  // vtEMPTY: any
    VelqorAcesstype AccessRights = 0;    // empty set: any

    // The transport browser, obtained on first use from an active server component.
    com::ComPtr<IVelqorBrowser> GetBrowser();
    // browseType: 1 branches, 2 items, 3 both. Results land in BrowseItems.
    bool Browse(int32_t browseType, bool flat);
    bool BrowseAll(bool flat) { return Browse(3, flat); }
    bool MoveDown(const TVelqorBrowseItem* item);
    bool MoveTo(const TVelqorBrowseItem& item);
    bool MoveToRoot();
    bool MoveUp();
    TVelqorBrowseItem* Position();
    int32_t Organization();
    TVelqorBrowseItems& BrowseItems() { return items_; }
    // What the last listing left out (levels not listed or short); empty when it is complete
    // or nothing was listed yet.
    std::vector<std::string> Gaps() const {
        return browser_ ? browser_->Gaps() : std::vector<std::string>{};
    }

  private:
    friend class TVelqorServer;
    // Drops the transport browser and the results, keeping the binding.
    void Reset();

    TVelqorServer* server_ = nullptr;
    com::ComPtr<IVelqorBrowser> browser_;
    TVelqorBrowseItems items_;
};

// ---- server component ----------------------------------------------------------------------

class TVelqorServer : public TVelqorSvr {
  public:
    explicit TVelqorServer(EventLoop* loop = nullptr);
    ~TVelqorServer() override;

    // When on, single-item changes stay local until the group is (re)created on the server.
    bool BatchMode() const { return batchMode_; }
    void SetBatchMode(bool on) { batchMode_ = on; }
    TVelqorGroups& OPCGroups();
    TVelqorDefaultGroup& OPCGroupDefault() { return groupDefault_; }
    // The component's own address-space browser, bound to it on each connect.
    TVelqorBrowser& Browser() { return *browser_; }

    // The connection as a DA connection; raises EOleSysError(E_NOINTERFACE) when it is not
    // one and EOPCServerException "Not connected to server" without a connection.
    com::ComPtr<IVelqorDAConnection> DAConnection() const;
    // The words for a result code: the toolkit's table, else the server's own text, else the
    // system's, else "Unknown error : <code>". Empty for 0.
    std::string ResultText(int32_t code) const;
    void GetStatus(tServerStateRecord& status) override;
    void Loaded() override;

    // The classes the collections are built with.
    virtual TVelqorGroupClass GroupClass() const;
    virtual TVelqorGroupsClass GroupsClass() const;
    virtual TVelqorItemClass ItemClass() const;
    virtual TVelqorItemsClass ItemsClass() const;

    // A transport group for the connection (the group factory).
    virtual com::ComPtr<IVelqorGroup> CreateGroupObject();

    TOnOPCDataChangeEvent OnDatachange;
    TOnOPCDataChangeEvent OnWriteError;
    TOnOPCDataChangeEvent OnWriteComplete;
    TOnSubscriptionEvent OnSubscriptionInterrupted;
    TOnSubscriptionEvent OnSubscriptionRecovered;
    TOnSubscriptionEvent OnSubscriptionLost;
    // A group's server has not answered its poll for a while (the reason says how long), and
    // later answers again; polling waits on in between.
    TOnSubscriptionEvent OnServerSilent;
    TOnSubscriptionEvent OnServerAnswers;

  protected:
    com::ComPtr<IVelqorConnection> CreateConnection() override;
    void AfterConnect() override;
    void Activated() override;
    void Deactivating() override;
    void WndProc(uint32_t message, uintptr_t wParam,
                 std::unique_ptr<MessagePayload> payload) override;

  private:
    friend class TVelqorBrowser;
    void HandleDataChange(uintptr_t groupID, std::unique_ptr<MessagePayload> payload);
    // The group's and the server's data-change events for the items (the list may shrink).
    void RaiseDataChange(TVelqorGroup* group, TVelqorItemList& items);
    void HandleWriteResult(uint32_t message, std::unique_ptr<MessagePayload> payload);
    // Applies a payload's updates to this server's items that still exist (and, given a group,
    // belong to it); false when the payload was cancelled.
    bool ApplyUpdates(const MessagePayload* payload, TVelqorGroup* group, TVelqorItemList& applied);

    bool batchMode_ = false;
    TVelqorDefaultGroup groupDefault_;
    std::unique_ptr<TVelqorGroups> groups_;
    std::unique_ptr<TVelqorBrowser> browser_;
    std::set<TVelqorBrowser*> boundBrowsers_;
    // ResultText's words by code, for the connection they were asked of: a window that words
    // many items' errors on every change asks the server once per code.
    mutable std::map<int32_t, std::string> resultTexts_;
    mutable const void* resultTextsOf_ = nullptr;
};

}  // namespace velqor
