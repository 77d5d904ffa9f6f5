// A scripted stand-in for a transport, for testing the component model and what is built on it.
//
//   auto fake = velqor::fake::FakeTransport::Create();
//   velqor::fake::FakeServer server(fake, &loop);      // a TVelqorServer on the fake
//   fake->SetItemValue("Random.Int4", Variant(int32_t(7)));
//   fake->FailItem("Bad.Item", OPC_E_UNKNOWNITEMID);    // every item operation on it fails
//   fake->FailCall("Connect", E_FAIL);                  // the next Connect raises
//   server.SetServerName("Sim.Server"); server.SetActive(true);
//   fake->PostDataChange(*server.OPCGroups().Items(0), {...}); loop.ProcessPending();
//   EXPECT_EQ(fake->Ops(), (std::vector<std::string>{"conn.Connect", "G1.Create", ...}));
//
// Every call of every fake object is recorded in order as "<target>.<Op>" with details:
// targets are "conn" (the connection), the group's name at creation, "browser" and
// "serverlist". All members are thread-safe, so a test thread may post as a poll thread would.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "model/Velqor.h"
#include "model/VelqorServerList.h"

namespace velqor::fake {

struct FakeCall {
    std::string Target;  // "conn", a group name, "browser", "serverlist"
    std::string Op;      // the interface operation, e.g. "AddItems"
    std::string Args;    // details, e.g. the item identifiers of a list joined by ","
    std::string Text() const { return Target + "." + Op + (Args.empty() ? "" : "(" + Args + ")"); }
};

// One node of a scripted address space: "A" is a branch, "A.B" an item below it.
struct FakeNode {
    std::string Name;
    std::string ItemID;
    bool IsItem = false;
    int32_t AccessRights = 3;
    int32_t Datatype = VT_R8;
    std::vector<FakeNode> Children;
};

struct FakeServerEntry {
    std::string Description, ProgID, CLSID;
    tVelqorServerSet Types = 0;
};

class FakeGroup;

class FakeTransport : public std::enable_shared_from_this<FakeTransport> {
  public:
    static std::shared_ptr<FakeTransport> Create();

    // ---- script ----
    // The next `times` calls of op (any target; -1 = every call) raise the error of the
    // result code as a COM transport would (EOPCException for OPC codes).
    void FailCall(const std::string& op, int32_t code = int32_t(0x80004005), int times = 1);
    // The same with a given exception text (raised as EOPCServerException).
    void FailCallWithText(const std::string& op, const std::string& text, int times = 1);
    // Every item operation on this item identifier fails with code (0 clears).
    void FailItem(const std::string& itemID, int32_t code);
    void ClearFailures();

    void SetConnectionType(tVelqorConnectionType type);
    void SetSpecVersion(int32_t version);
    void SetCheckConnection(bool alive);
    void SetStatus(const tServerStateRecord& status);
    // Texts GetErrorString gives (others: the result table's message).
    void SetErrorText(int32_t code, const std::string& text);
    // What reads return and data changes carry for an item.
    void SetItemValue(const std::string& itemID, const Variant& value, int32_t quality = 0xC0,
                      double timeStamp = 0);
    // What AddItems reports as canonical type and access rights (defaults VT_R8, 3).
    void SetItemInfo(const std::string& itemID, int32_t canonicalType, int32_t accessRights);
    // What GetItemAttributes gives (default EU type 0, info null).
    void SetItemEU(const std::string& itemID, int32_t euType, const Variant& euInfo);
    // The update rate that Create and SetState grant (0: as requested).
    void SetGrantedRate(int32_t ms);
    // Properties GetItemProperties returns for an item.
    void SetItemProperties(const std::string& itemID, std::vector<TVelqorItemProperty> properties);

    // The address space: the children of the root, and whether the server is flat.
    void SetBrowseTree(std::vector<FakeNode> roots, int32_t organization = 1);
    // What every later listing reports as left out.
    void SetBrowseGaps(std::vector<std::string> gaps);
    std::vector<std::string> BrowseGaps() const;
    // Convenience: a tree from item identifiers with "." between levels.
    static std::vector<FakeNode> TreeFromIDs(const std::vector<std::string>& itemIDs);
    // The servers GetServerList reports.
    void SetServerList(std::vector<FakeServerEntry> servers);

    // ---- record ----
    std::vector<FakeCall> Calls() const;
    // "<target>.<Op>" of every call, optionally only of ops in the filter.
    std::vector<std::string> Ops(const std::set<std::string>& onlyOps = {}) const;
    int CountCalls(const std::string& op) const;
    void ClearCalls();

    // ---- live objects ----
    int ConnectionsCreated() const;
    bool Connected() const;
    // The window given to the last Connect (what a transport posts to).
    NotifyWindow Window() const;
    // The fake group created on the server under this name (its name at creation), or
    // nullptr; groups that were removed are forgotten.
    com::ComPtr<FakeGroup> GroupNamed(const std::string& name) const;
    int LiveGroupCount() const;

    // ---- post as a transport does ----
    bool PostShutdown(const std::string& reason);
    // A data change for a group's client handle with these updates.
    bool PostDataChange(int32_t groupClientHandle, std::vector<ItemUpdate> updates,
                        bool subscriptionInvalid = false,
                        std::shared_ptr<const std::atomic<bool>> cancelled = nullptr);
    // A data change carrying the scripted value of each item (value, quality, timestamp).
    bool PostValues(const TVelqorGroup& group, const std::vector<const TVelqorItemData*>& items);
    bool PostWriteResult(bool failed, std::vector<ItemUpdate> updates);

    // ---- for the fake objects ----
    void Record(const std::string& target, const std::string& op, const std::string& args = {});
    void MaybeFail(const std::string& op);
    int32_t ItemFailure(const std::string& itemID) const;
    ItemUpdate ValueUpdate(const TVelqorItemData& item) const;
    com::ComPtr<IVelqorDAConnection> NewConnection();
    com::ComPtr<IVelqorGroup> NewGroup();
    com::ComPtr<IVelqorServerBrowser> NewServerBrowser();

    struct ItemScript {
        std::optional<Variant> Value;
        int32_t Quality = 0xC0;
        double TimeStamp = 0;
        int32_t Canonical = VT_R8;
        int32_t Rights = 3;
        int32_t EUType = 0;
        Variant EUInfo = Variant::Null();
        int32_t Failure = 0;
        std::vector<TVelqorItemProperty> Properties;
    };
    struct Failure {
        int32_t Code = 0;
        std::string Text;
        int Times = 0;
    };

  private:
    friend class FakeConnection;
    friend class FakeGroup;
    friend class FakeBrowser;
    friend class FakeServerBrowser;
    FakeTransport() = default;
    ItemScript Script(const std::string& itemID) const;

    mutable std::recursive_mutex mu_;
    std::vector<FakeCall> calls_;
    std::map<std::string, Failure> failures_;
    std::map<std::string, ItemScript> items_;
    std::map<int32_t, std::string> errorTexts_;
    tVelqorConnectionType type_ = coCOM;
    int32_t specVersion_ = 2;
    bool alive_ = true;
    tServerStateRecord status_;
    int32_t grantedRate_ = 0;
    std::vector<FakeNode> tree_;
    std::vector<std::string> gaps_;
    int32_t organization_ = 1;
    std::vector<FakeServerEntry> servers_;
    int connections_ = 0;
    bool connected_ = false;
    NotifyWindow window_;
    std::map<std::string, FakeGroup*> groups_;  // live groups on the server, by creation name
    int32_t nextHandle_ = 1000;
};

// The fake transport group (reachable through FakeTransport::GroupNamed).
class FakeGroup : public com::ComObject<IVelqorGroup> {
  public:
    struct State {
        std::string Name;
        int32_t ServerHandle = -1, ClientHandle = 0, UpdateRate = 0, TimeBias = 0, LocaleId = 0;
        int32_t HoldTime = 0, WaitTime = 0;
        bool Active = false, Subscribe = false;
        float DeadBand = 0;
        bool Removed = false;
    };
    State Snapshot() const;
    // Items the server holds for this group, by server handle: the item's client handle.
    std::map<int32_t, uint32_t> ServerItems() const;

    explicit FakeGroup(std::shared_ptr<FakeTransport> t) : t_(std::move(t)) {}
    ~FakeGroup() override;

    VELQOR_IVELQORGROUP_SLOTS;

  private:
    std::string Target() const;
    // Records the call and applies each item's scripted failure; true when none failed.
    bool PerItem(const std::string& op, TVelqorItemList& items,
                 const std::function<void(TVelqorItemData&)>& ok);

    std::shared_ptr<FakeTransport> t_;
    mutable std::mutex mu_;
    State s_;
    std::string createdAs_;
    std::map<int32_t, uint32_t> serverItems_;
};

// A server component whose connections and groups are the fake's: the component's own seam,
// CreateConnection, plus the group factory.
class FakeServer : public TVelqorServer {
  public:
    explicit FakeServer(std::shared_ptr<FakeTransport> fake, EventLoop* loop = nullptr)
        : TVelqorServer(loop), fake_(std::move(fake)) {}
    ~FakeServer() override { Shutdown(); }
    FakeTransport& Fake() const { return *fake_; }

  protected:
    com::ComPtr<IVelqorConnection> CreateConnection() override { return fake_->NewConnection(); }
    com::ComPtr<IVelqorGroup> CreateGroupObject() override { return fake_->NewGroup(); }

  private:
    std::shared_ptr<FakeTransport> fake_;
};

// A server list whose transport server browser is the fake's.
class FakeServerList : public TVelqorServerBrowser {
  public:
    explicit FakeServerList(std::shared_ptr<FakeTransport> fake) : fake_(std::move(fake)) {}

  protected:
    com::ComPtr<IVelqorServerBrowser> CreateServerBrowserObject() override {
        return fake_->NewServerBrowser();
    }

  private:
    std::shared_ptr<FakeTransport> fake_;
};

}  // namespace velqor::fake
