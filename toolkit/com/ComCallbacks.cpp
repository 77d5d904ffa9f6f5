#include "ComCallbacks.h"

#include <atomic>

namespace velqor {

// Calls queued under one generation run only while it is live.
struct CallbackQueue::Generation {
    std::atomic<bool> live{true};
};

CallbackQueue::CallbackQueue(EventLoop& loop)
    : loop_(loop), current_(std::make_shared<Generation>()) {}

CallbackQueue::~CallbackQueue() { CancelAll(); }

std::shared_ptr<CallbackQueue::Generation> CallbackQueue::Current() {
    std::lock_guard lock(mu_);
    return current_;
}

void CallbackQueue::Post(std::function<void()> fn) {
    std::shared_ptr<Generation> generation = Current();
    loop_.Post([generation, fn = std::move(fn)] {
        if (generation->live.load()) fn();
    });
}

int CallbackQueue::StartTimer(int intervalMs, std::function<void()> fn) {
    int id = loop_.StartTimer(intervalMs, std::move(fn));
    timers_.insert(id);
    return id;
}

void CallbackQueue::StopTimer(int id) {
    if (timers_.erase(id)) loop_.StopTimer(id);
}

void CallbackQueue::CancelAll() {
    {
        std::lock_guard lock(mu_);
        current_->live.store(false);
        current_ = std::make_shared<Generation>();
    }
    for (int id : timers_) loop_.StopTimer(id);
    timers_.clear();
}

}  // namespace velqor
