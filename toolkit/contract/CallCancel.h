// Cancelling the server calls one thread makes, from another thread. A program that must stay
// responsive runs a long call on a worker thread inside a CallCancelScope and, when its user
// asks, calls Cancel() from its own thread: every blocking exchange the worker makes meanwhile
// (the one under way and any later one while the scope lives) ends promptly with EAbort.
// Other threads' exchanges (the poll threads) are not touched.
//
// The layers that block (the HTTP poster, a simulated server's slow call) ask
// CallCancelScope::CurrentCancelled() in their waits and register a waker that interrupts
// those waits when some scope is cancelled.
#pragma once

#include <atomic>
#include <functional>
#include <memory>

namespace velqor {

class CallCancelScope {
  public:
    // Binds the scope to the calling thread for its life. A scope made inside another on the
    // same thread stands in for it until it ends.
    CallCancelScope();
    ~CallCancelScope();
    CallCancelScope(const CallCancelScope&) = delete;
    CallCancelScope& operator=(const CallCancelScope&) = delete;

    // Any thread. Idempotent.
    void Cancel();
    bool Cancelled() const { return state_->cancelled.load(); }

    // True when the calling thread runs inside a cancelled scope.
    static bool CurrentCancelled();

    // Blocking layers register how to interrupt their waits; wakers run on the cancelling
    // thread under a lock and must only wake (the waiting thread then asks CurrentCancelled()),
    // never add or remove wakers. Returns an id for RemoveWaker.
    static int AddWaker(std::function<void()> wake);
    static void RemoveWaker(int id);

  private:
    struct State {
        std::atomic<bool> cancelled{false};
    };
    std::shared_ptr<State> state_;
    std::shared_ptr<State> outer_;
};

}  // namespace velqor
