#include "xmlda/Subscriptions.h"

#include <algorithm>
#include <cmath>

namespace velqor::xmldasim {

using SteadyClock = std::chrono::steady_clock;

void SubscriptionStore::reset(const std::string& tag) {
    std::lock_guard lock(mutex_);
    subs_.clear();
    tag_ = tag;
    stopping_ = false;
    ++generation_;
}

void SubscriptionStore::shutdown() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    cv_.notify_all();
}

void SubscriptionStore::dropAll() {
    {
        std::lock_guard lock(mutex_);
        subs_.clear();
        ++generation_;
    }
    cv_.notify_all();
}

void SubscriptionStore::notifyChange() { cv_.notify_all(); }

std::string SubscriptionStore::add(Subscription s) {
    std::lock_guard lock(mutex_);
    auto now = SteadyClock::now();
    expireIdle(now);
    if (subs_.size() >= max_) return {};
    std::string handle = tag_ + "-" + std::to_string(next_++);
    s.lastActivity = now;
    if (s.pingRateMs <= 0) s.pingRateMs = std::max(defaultPingRateMs_, 1);
    subs_.emplace(handle, std::move(s));
    return handle;
}

bool SubscriptionStore::cancel(const std::string& handle) {
    bool found;
    {
        std::lock_guard lock(mutex_);
        found = subs_.erase(handle) > 0;
    }
    if (found) cv_.notify_all();  // a poll waiting on it answers now
    return found;
}

std::size_t SubscriptionStore::count() {
    std::lock_guard lock(mutex_);
    expireIdle(SteadyClock::now());
    return subs_.size();
}

std::size_t SubscriptionStore::pollsWaiting() {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& [handle, s] : subs_) n += std::size_t(s.pollsWaiting);
    return n;
}

void SubscriptionStore::expireIdle(SteadyClock::time_point now) {
    for (auto it = subs_.begin(); it != subs_.end();) {
        const Subscription& s = it->second;
        // A client that has not polled for twice its ping rate is taken to be gone.
        const long long limit = s.idleLimitMs > 0 ? s.idleLimitMs : 2LL * s.pingRateMs;
        bool idle = limit > 0 && s.pollsWaiting == 0 &&
                    now - s.lastActivity > std::chrono::milliseconds(limit);
        it = idle ? subs_.erase(it) : std::next(it);
    }
}

bool SubscriptionStore::changed(const SubItem& it, const Sample& s,
                                const AddressSpace& space) const {
    if (!it.lastSent) return true;
    const Sample& a = *it.lastSent;
    if (a.quality.quality != s.quality.quality || a.quality.limit != s.quality.limit) return true;
    if (a.value == s.value) return false;
    const ItemDef& d = space.node(it.node).item;
    if (it.deadband > 0 && d.euType == EuType::Analog) {
        auto x = numericOf(a.value);
        auto y = numericOf(s.value);
        if (x && y) return std::fabs(*y - *x) > it.deadband / 100.0 * (d.highEU - d.lowEU);
    }
    return true;
}

PollAnswer SubscriptionStore::poll(const std::vector<std::string>& handles,
                                   std::optional<TimePoint> holdUntil, int waitMs, bool returnAll,
                                   AddressSpace& space) {
    std::unique_lock lock(mutex_);
    expireIdle(SteadyClock::now());
    PollAnswer answer;
    std::vector<std::string> valid;
    for (const auto& h : handles) {
        if (subs_.count(h)) {
            if (std::find(valid.begin(), valid.end(), h) == valid.end()) valid.push_back(h);
        } else {
            answer.invalid.push_back(h);
        }
    }
    if (valid.empty()) return answer;

    for (const auto& h : valid) subs_[h].pollsWaiting++;
    const auto generation = generation_;
    auto interrupted = [&] {
        if (stopping_ || generation_ != generation) return true;
        return std::any_of(valid.begin(), valid.end(),
                           [&](const std::string& h) { return !subs_.count(h); });
    };

    // Hold: the client asked not to be answered before this server time.
    if (holdUntil) {
        auto sysNow = Clock::now();
        if (*holdUntil > sysNow) {
            auto holdEnd = SteadyClock::now() + (*holdUntil - sysNow);
            cv_.wait_until(lock, holdEnd, interrupted);
        }
    }

    // Wait: then answer as soon as something changed, or when the wait time is over.
    const auto waitEnd = SteadyClock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
    for (;;) {
        const auto steadyNow = SteadyClock::now();
        const auto sysNow = std::chrono::time_point_cast<std::chrono::milliseconds>(Clock::now());
        bool any = false;
        int step = 1000;
        for (const auto& h : valid) {
            auto it = subs_.find(h);
            if (it == subs_.end()) continue;
            for (auto& item : it->second.items) {
                // A periodic sampler: one new sample in each sampling period of the clock,
                // whenever in it the poll comes, so that a poll a little early for the period
                // after the last sample still finds the next one.
                const long long slot =
                    sysNow.time_since_epoch().count() / std::max(item.samplingMs, 1);
                if (!item.lastSampled || slot != item.sampledSlot) {
                    item.lastSampled = space.sample(item.node, sysNow);
                    item.sampledSlot = slot;
                }
                step = std::min(step, std::max(item.samplingMs, 10));
                if (!any && changed(item, *item.lastSampled, space)) any = true;
            }
        }
        if (any || returnAll || interrupted() || steadyNow >= waitEnd) break;
        cv_.wait_until(lock, std::min(waitEnd, steadyNow + std::chrono::milliseconds(step)));
    }

    const auto done = SteadyClock::now();
    for (const auto& h : valid) {
        auto it = subs_.find(h);
        if (it == subs_.end() || generation_ != generation) {
            answer.invalid.push_back(h);
            continue;
        }
        Subscription& s = it->second;
        s.pollsWaiting--;
        s.lastActivity = done;
        std::vector<PolledItem> items;
        items.reserve(s.items.size());
        for (auto& item : s.items) {
            if (!item.lastSampled) continue;
            if (returnAll || changed(item, *item.lastSampled, space)) {
                item.lastSent = item.lastSampled;
                items.push_back({item.clientHandle, item.itemPath, item.itemName, item.reqType,
                                 *item.lastSampled});
            }
        }
        answer.lists.emplace_back(h, std::move(items));
    }
    return answer;
}

}  // namespace velqor::xmldasim
