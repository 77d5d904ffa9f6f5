// The XML-DA group: the toolkit's group interface over an OPC XML-DA service, which has no
// groups and no callbacks. The group keeps its settings and its items on the client side, turns
// its active items into one subscription (Subscribe) and starts a poll thread that asks for the
// changed values (VelqorXMLDAPoll.h). Reads and writes are sent directly. Every change to the
// items or the settings cancels the subscription and makes a new one.
//
// The component model gets it from the group factory for an XML-DA connection; applications
// use it through TVelqorServer / TVelqorGroup:
//
//   TVelqorServer server(&loop);
//   server.SetServerName("http://127.0.0.1:8085/opc/xmlda");
//   server.SetActive(true);
//   TVelqorGroup* g = server.OPCGroups().AddGroup("G");       // Create: nothing sent
//   g->OPCItems().AddItem("Dynamic/Int");                     // AddItems: Subscribe, poll thread
//   server.OnDatachange = [](TVelqorServer*, const TVelqorItemList& items) { ... };
//
// Threads: every slot runs on the owning thread. The poll thread touches neither this object
// nor the items; its results are applied by the component model on the owning thread.
//
// A lost subscription (the service forgot it, or went away) is made again with a growing wait
// between attempts (TVelqorResubscribe), driven by timers of the owning thread's event loop;
// each attempt is one Subscribe exchange. Meanwhile the subscribed items are bad (not
// connected) with the reason, and changes to the group only update what the next attempt
// subscribes; deactivating or removing the group ends the recovery. Data-change messages
// carry the news: interrupted, recovered, or lost for good (the group is then inactive).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "contract/VelqorTransport.h"
#include "xmlda/VelqorXMLDA.h"
#include "xmlda/VelqorXMLDAPoll.h"

namespace velqor {

// The toolkit's code for "E_BADTYPE": a written item with no value, or a pending write value
// that cannot be converted to the item's requested type.
inline constexpr int32_t kXmlDaBadType = int32_t(0xC0040004U);
// The least ping rate asked for a subscription, in milliseconds.
inline constexpr int32_t kSubscriptionPingRate = 10000;

// The ping rate to ask for a subscription polled every updateRate ms, each poll held open
// for up to holdTime + waitTime ms: a service may drop a subscription that is not polled within
// its ping rate and may refuse a wait that does not fit into it, so the ping rate leaves room
// for several polls (never less than kSubscriptionPingRate).
int32_t SubscriptionPingRateFor(int32_t updateRate, int32_t holdTime, int32_t waitTime);

class TVelqorXMLGroup : public com::ComObject<IVelqorGroup, IVelqorGroupRecovery>,
                        public TVelqorXMLDAComponent {
  public:
    explicit TVelqorXMLGroup(com::ComPtr<IVelqorDAConnection> connection);
    // Stops and joins the poll thread; sends nothing.
    ~TVelqorXMLGroup() override;

    VELQOR_IVELQORGROUP_SLOTS;

    // IVelqorGroupRecovery: applies from the next subscription on.
    void SetResubscribe(const TVelqorResubscribe& policy) override { policy_ = policy; }
    const TVelqorResubscribe& Resubscribe() const { return policy_; }
    // A lost subscription is being made again; failed attempts so far.
    bool Recovering();
    int32_t FailedAttempts() const { return failedAttempts_; }

    // What the group holds now (owning thread).
    const std::string& Name() const { return name_; }
    bool Active();
    const std::string& ServerSubHandle();
    int32_t ActiveItemCount() const { return activeItemCount_; }
    int32_t ItemCount() const { return int32_t(items_.size()); }
    int32_t ServerHandle() const { return serverHandle_; }
    bool SubscribeWanted() const { return subscribeWanted_; }
    // The current poll thread, or none.
    const TVelqorPollRefresh* PollThread() const { return poll_.get(); }

  private:
    // recovering: the exchange posts no shutdown message on a failed post, and the items the
    // service accepts lose the error of the loss.
    bool Subscribe(bool recovering = false);
    // Subscribes again after a change, unless a recovery is under way (its next attempt takes
    // the new state).
    bool Resubscribe();
    void BeginRecovery(const std::string& reason, int32_t error, bool freshDelay);
    void ScheduleAttempt();
    void Attempt();
    // Ends the recovery; cancelled: its news still queued changes nothing.
    void EndRecovery(bool cancelled);
    void GiveUp(const std::string& reason);
    void PostNews(std::unique_ptr<ItemUpdatesPayload> news);
    void CancelSubscription();
    bool Read(TVelqorItemList& items);
    bool Write(TVelqorItemList& items);
    // Takes over what the poll thread found out by itself: after the invalid-handle verdict
    // the group is inactive and has no subscription.
    void SyncWithPoll();
    // Stops the poll thread, drops its queued messages and joins it.
    void DropPollThread();
    // The items that still exist, in list order (destroyed items are forgotten).
    std::vector<TVelqorItemData*> LiveItems();
    void RecountActive();
    std::string RequestHandle() const { return std::to_string(serverHandle_); }
    // The options of a read or write: error texts and item times asked for.
    std::unique_ptr<xmlda::RequestOptions> ItemRequestOptions() const;

    std::string name_;
    int32_t clientHandle_ = 0;
    bool active_ = false;
    float deadBand_ = 0;
    int32_t timeBias_ = 0;
    int32_t localeId_ = 0;
    int32_t updateRate_ = 0;
    int32_t reportedClientHandle_ = 0;
    int32_t serverHandle_;
    std::string serverSubHandle_;
    int32_t activeItemCount_ = 0;
    int32_t waitTime_ = 0;
    int32_t holdTime_ = 0;
    bool subscribeWanted_ = true;
    std::vector<uint32_t> items_;  // client handles of the group's items, in order
    std::unique_ptr<TVelqorPollRefresh> poll_;

    TVelqorResubscribe policy_;
    // Closures queued on the owning thread reach the group through this; cleared when it goes.
    std::shared_ptr<TVelqorXMLGroup*> self_ = std::make_shared<TVelqorXMLGroup*>(this);
    bool recovering_ = false;
    EventLoop* retryLoop_ = nullptr;
    int retryTimer_ = 0;  // the pending attempt's one-shot timer, 0 none
    int32_t retryDelay_ = 0;
    int32_t failedAttempts_ = 0;
    std::chrono::steady_clock::time_point lostSince_;
    std::shared_ptr<std::atomic<bool>> newsCancelled_;
};

}  // namespace velqor
