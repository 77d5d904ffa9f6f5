// The poll thread of an XML-DA group: asks the service again and again for the changed values of
// one subscription (SubscriptionPolledRefresh) and hands them to the owning thread inside
// data-change messages.
//
// The thread never reads or writes items, groups or the connection. The group gives it a
// snapshot, taken on the owning thread, of everything it needs: call settings with a poster of
// its own, the notification window, the subscription handle, the pacing, the service clock's
// offset and the client handles of the group's items. Decoded values travel as an
// ItemUpdatesPayload inside WM_VELQOR_DATACHANGE (wParam = the group's client handle); the
// component model applies them to the items that still exist.
//
// Stopping is prompt: StopPolling wakes the pacing wait and aborts a running HTTP exchange.
// Once it has returned, the thread posts nothing more, and every message it posted earlier that
// is still queued changes nothing (its payload's Cancelled flag is set). A thread that has
// already ended by itself (failed exchange, invalid subscription handle) is left alone by
// StopPolling, so that its last message still arrives.
//
// With Recover set, a loss the group can mend (the service no longer knows the subscription, or
// the service went away: refused or broken connection, time-out, gateway error) posts nothing:
// the thread ends with the outcome Interrupted and calls OnInterrupted, and the group takes it
// from there on its own thread.
//
//   TPollSnapshot snap = ...;                      // owning thread
//   auto poll = std::make_unique<TVelqorPollRefresh>(std::move(snap));   // starts at once
//   ...
//   poll->Discard();                               // stop and drop queued messages
//   poll.reset();                                  // joins (prompt after a stop)
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "contract/VelqorItemData.h"
#include "xmlda/OpcXmlDa.h"
#include "xmlda/VelqorSOAPData.h"

namespace velqor {

// Error code that the items of a dropped subscription get (with quality bad, out of service).
inline constexpr int32_t kXmlDaInvalidHandle = int32_t(0xC0040001U);  // "E_INVALIDHANDLE"

// The clock that paces a client-paced poll thread; a test puts one of its own in the snapshot.
class TPollClock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~TPollClock() = default;
    virtual TimePoint Now() = 0;
    // Lets time pass up to `until` (a test clock jumps there at once).
    virtual void PassUntil(TimePoint until) = 0;
};

// What a poll thread works from; filled on the owning thread.
struct TPollSnapshot {
    TVelqorSOAPData Settings;         // URL, credentials, proxy, CA file; no notify window
    velqor::NotifyWindow Window;      // where data changes and the shutdown message go
    uintptr_t GroupClientHandle = 0;  // wParam of the data-change messages
    std::string ServerSubHandle;
    int32_t UpdateRate = 0;               // ms; start to start of polls with client pacing
    int32_t HoldTime = 0;                 // ms
    int32_t WaitTime = 0;                 // ms
    double ClockOffset = 0;               // service clock minus local clock, in days
    std::vector<uint32_t> Subscribed;     // client handles sent in the subscription (sorted
                                          // by the poll thread, which looks them up)
    std::vector<uint32_t> AllItems;       // every item of the group (the invalid-handle verdict)
    bool Recover = false;                 // hand a mendable loss to the group (above)
    std::function<void()> OnInterrupted;  // called on the poll thread, once, for that loss
    std::shared_ptr<TPollClock> Clock;    // none: the steady clock, woken early by a stop
    int32_t SilenceMs = 0;                // 0: SilenceLimitMs of the pacing
};

// How long a poll may go unanswered before the server counts as silent: its hold and wait
// times plus three update rates, at least 10 s more. A silent server is said to be so (news
// with ServerSilent) while the poll waits on for its reply; the reply brings ServerAnswers.
int64_t SilenceLimitMs(int32_t updateRate, int32_t holdTime, int32_t waitTime);

// A fault that says the service no longer knows the subscription (the code's local name).
bool IsSubscriptionGoneFault(std::string_view faultCode);

// Why a subscription answered with InvalidServerSubHandles is gone.
inline constexpr std::string_view kSubscriptionForgotten =
    "the server no longer knows the subscription";

// The ClientItemHandle text of an item: its client handle in decimal.
std::string ClientHandleText(uint32_t handle);
// The client handle a ClientItemHandle text names; false for anything but a decimal handle.
bool ParseClientHandle(std::string_view text, uint32_t& handle);

// One received item value as an update: the value (under the storing rule), the quality
// (an item without a Quality element is good) and the timestamp. A value the reader could not
// decode, or no value at all beside a good quality, is never a good value: the update then
// carries an empty value, bad quality and an error with the reason (kError).
ItemUpdate UpdateFromItemValue(uint32_t handle, const xmlda::ItemValue& value);

// The toolkit's code for a value that could not be read ("E_INVALIDDATATYPE").
inline constexpr int32_t kXmlDaUnreadableValue = int32_t(0xC004100AU);
// The detail of a good reply item without a value.
inline constexpr std::string_view kNoValueFromServer = "no value from the server";

// The polled-refresh request: only ReturnItemTime set in Options; HoldTime = serverNow +
// holdTime when either pacing time is not 0, else absent; WaitTime = waitTime.
std::unique_ptr<xmlda::SubscriptionPolledRefresh> BuildPolledRefresh(const std::string& subHandle,
                                                                     int32_t holdTime,
                                                                     int32_t waitTime,
                                                                     double serverNow);

class TVelqorPollRefresh {
  public:
    enum class TOutcome {
        Running,        // still polling
        Stopped,        // told to stop
        Failed,         // an exchange failed: the shutdown message (with the cause) was posted
        InvalidHandle,  // the service dropped the subscription: the verdict was posted
        Interrupted,    // a loss the group can mend: OnInterrupted was called, nothing posted
    };

    // Creates the thread's poster and starts polling at once.
    explicit TVelqorPollRefresh(TPollSnapshot snapshot);
    // Discards and joins.
    ~TVelqorPollRefresh();
    TVelqorPollRefresh(const TVelqorPollRefresh&) = delete;
    TVelqorPollRefresh& operator=(const TVelqorPollRefresh&) = delete;

    // Tells the thread to stop, wakes its wait and aborts its exchange; does not wait. Does
    // nothing when the thread has already ended by itself. Any thread.
    void StopPolling();
    // Stops also a thread that ended by itself, and cancels every message it posted that is
    // still queued (used when the subscription is replaced or the group goes).
    void Discard();
    // Waits for the thread to end (prompt after a stop). Owning thread.
    void Join();

    TOutcome Outcome() const;
    bool Ended() const;
    uint64_t PollCount() const { return polls_.load(); }  // exchanges made
    bool HadGoodPoll() const { return goodPolls_.load() > 0; }
    // What ended polling, for the user ("" while running); with Interrupted, the error code
    // the items get (the service forgot the subscription, or the connection failed).
    std::string Reason() const;
    int32_t LossError() const;
    const std::string& ServerSubHandle() const { return snap_.ServerSubHandle; }

  private:
    void Run();
    // One exchange; false when polling ends.
    bool PollOnce();
    // Posts the request and reads the reply, the first item list's values into updates.
    std::unique_ptr<xmlda::SubscriptionPolledRefreshResponse> Exchange(
        const xmlda::SubscriptionPolledRefresh& request, std::vector<ItemUpdate>& updates);
    // The update of one reply item, when it names an item of this subscription.
    void Collect(const xmlda::ItemValue& value, std::vector<ItemUpdate>& updates) const;
    double ServerNow() const;
    // Posts a data change unless the thread has been told to stop; false when it has.
    bool Deliver(std::unique_ptr<ItemUpdatesPayload> payload);
    // Ends polling with the outcome, posting its message unless stopped first: the verdict, or
    // without one the shutdown message carrying the reason (what went wrong, for the user).
    void Finish(TOutcome outcome, std::unique_ptr<ItemUpdatesPayload> verdict,
                std::string reason = {});
    std::unique_ptr<ItemUpdatesPayload> NewPayload() const;
    // Ends polling with Interrupted and tells the group, unless stopped first.
    void Interrupt(std::string reason, int32_t error);
    // News without items (ServerSilent or ServerAnswers) unless stopped.
    void PostSilence(bool silent, std::string reason = {});

    TPollSnapshot snap_;
    // The last reply's bytes; its memory serves the next one unless it is large, when it is
    // not held between polls (the poster reserves a reply's announced length anyway).
    std::string response_;
    static constexpr size_t kKeptReplyCapacity = 64 * 1024;
    bool silent_ = false;  // the running poll has gone unanswered too long (poll thread only)
    mutable std::mutex mu_;
    std::condition_variable wake_;
    bool terminate_ = false;
    bool ended_ = false;
    TOutcome outcome_ = TOutcome::Running;
    std::string reason_;
    int32_t lossError_ = 0;
    std::shared_ptr<std::atomic<bool>> cancelled_ = std::make_shared<std::atomic<bool>>(false);
    std::atomic<uint64_t> polls_{0};
    std::atomic<uint64_t> goodPolls_{0};
    std::thread thread_;
};

}  // namespace velqor
