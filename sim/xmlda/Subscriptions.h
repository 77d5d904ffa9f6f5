// Subscriptions of the simulation service and the server-paced wait of polled refreshes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "xmlda/AddressSpace.h"

namespace velqor::xmldasim {

struct SubItem {
    int node = -1;
    std::string clientHandle;
    std::string itemPath, itemName;  // as the client named the item
    std::optional<DataType> reqType;
    double deadband = 0;             // percent of the EU range (analog items)
    int samplingMs = 0;              // revised sampling rate
    std::optional<Sample> lastSent;  // what the client was last told
    std::optional<Sample> lastSampled;
    long long sampledSlot = 0;  // the sampling period (of the system clock) of lastSampled
};

struct Subscription {
    std::vector<SubItem> items;
    int pingRateMs = 0;   // 0: the store's default
    int idleLimitMs = 0;  // dropped when not polled for this long; 0: twice the ping rate
    std::chrono::steady_clock::time_point lastActivity;
    int pollsWaiting = 0;  // polls holding or waiting on it right now
};

// One changed item of a polled refresh: what its reply needs, copied out under the store's lock.
struct PolledItem {
    std::string clientHandle, itemPath, itemName;
    std::optional<DataType> reqType;
    Sample sample;
};

struct PollAnswer {
    std::vector<std::string> invalid;
    std::vector<std::pair<std::string, std::vector<PolledItem>>> lists;  // per handle
};

class SubscriptionStore {
  public:
    // At most maxSubscriptions live at once; one whose client gave no ping rate gets
    // defaultPingRateMs, so that every subscription of a client that went away expires.
    explicit SubscriptionStore(std::size_t maxSubscriptions = 2000, int defaultPingRateMs = 60000)
        : max_(maxSubscriptions), defaultPingRateMs_(defaultPingRateMs) {}
    std::size_t limit() const { return max_; }

    // Forgets everything, starts handing out handles with a new tag; wakes nothing (call at start).
    void reset(const std::string& tag);
    // Wakes every waiting poll and makes new ones return at once (call before stopping).
    void shutdown();
    // Drops every subscription; waiting polls return with their handles invalid.
    void dropAll();
    // Wakes waiting polls to look for changes (after a write).
    void notifyChange();

    // Returns the new handle, or "" when the store is full.
    std::string add(Subscription s);
    bool cancel(const std::string& handle);
    std::size_t count();
    std::size_t pollsWaiting();

    // Holds until holdUntil, then waits up to waitMs for a change; returns the changed items
    // (all items when returnAll) of each valid handle and the invalid handles.
    PollAnswer poll(const std::vector<std::string>& handles, std::optional<TimePoint> holdUntil,
                    int waitMs, bool returnAll, AddressSpace& space);

  private:
    void expireIdle(std::chrono::steady_clock::time_point now);  // caller holds mutex_
    bool changed(const SubItem& it, const Sample& s, const AddressSpace& space) const;

    const std::size_t max_;
    const int defaultPingRateMs_;
    std::mutex mutex_;
    std::condition_variable cv_;
    std::map<std::string, Subscription> subs_;
    std::string tag_;
    unsigned long long next_ = 1;
    bool stopping_ = false;
    unsigned long long generation_ = 0;  // bumped by dropAll and reset
};

}  // namespace velqor::xmldasim
