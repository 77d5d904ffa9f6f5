// Single-threaded-apartment delivery for server objects: a server never calls a client sink
// from a thread of its own; it queues the call onto the event loop that owns the client, and
// runs its clocks as that loop's timers. Whatever is still queued when the queue is destroyed
// (the server object going away) is dropped, so no callback reaches a freed server. Create,
// cancel and destroy the queue on the loop's thread; Post from any thread.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include "contract/EventLoop.h"

namespace velqor {

class CallbackQueue {
  public:
    explicit CallbackQueue(EventLoop& loop);
    ~CallbackQueue();
    CallbackQueue(const CallbackQueue&) = delete;
    CallbackQueue& operator=(const CallbackQueue&) = delete;

    // Runs fn on the loop's thread after everything queued before it. Thread-safe.
    void Post(std::function<void()> fn);
    // A repeating timer on the loop's thread; owning thread only. Returns its id.
    int StartTimer(int intervalMs, std::function<void()> fn);
    void StopTimer(int id);
    // Drops every queued call and stops every timer; later posts still run.
    void CancelAll();
    EventLoop& Loop() const { return loop_; }

  private:
    struct Generation;
    std::shared_ptr<Generation> Current();
    EventLoop& loop_;
    std::mutex mu_;
    std::shared_ptr<Generation> current_;
    std::set<int> timers_;
};

}  // namespace velqor
