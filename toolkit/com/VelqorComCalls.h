// Bounds on the COM calls of the owning thread. Every call into a server that leaves the
// thread's apartment (a local or remote server, or an in-process server living in another
// apartment) waits for its answer inside COM; while it waits, COM asks the apartment's message
// filter whether to go on. TComCallBounds is that filter: it ends the call with
// RPC_E_CALL_CANCELED once the call has run its time limit, or as soon as the thread's
// CallCancelScope is cancelled (a Cancel button, Ctrl-C). CheckOPCResult then raises EAbort for
// a cancelled call and a time-out error for one that ran out of time. A server that let a call
// run out of time is taken to be still busy with it: the thread's later calls end at once with
// the same error, until a connect (ForgetUnansweredCalls) starts afresh.
//
// Where callbacks run: the owning thread is a single-threaded apartment, and calls from servers
// (data changes, shutdown requests) reach it as window messages, dispatched by its event loop
// while it waits and by COM while the thread itself waits in an outgoing call. The sinks only
// post to the component's message window, so they never re-enter the component model.
//
// A call into an in-process server of the same apartment is a plain function call: nothing can
// bound it but the server itself. Nor can the filter end a call on a platform that keeps
// waiting after the filter cancelled it (Wine 8 does): the bounds then call the program's
// handler for a cancel that was not honoured, which may end the program.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "com/runtime/ComPlatform.h"

namespace velqor {

// Why the bounds cancelled a call.
enum class TComCallEnd { None, Cancelled, TimedOut };

class TComCallBounds {
  public:
    // Installs the filter on the calling thread, which must be a single-threaded apartment
    // (elsewhere the bounds do nothing: Installed() tells). timeoutMs 0: no time limit,
    // cancellation only.
    explicit TComCallBounds(uint32_t timeoutMs);
    // Puts back the filter that was there before.
    ~TComCallBounds();
    TComCallBounds(const TComCallBounds&) = delete;
    TComCallBounds& operator=(const TComCallBounds&) = delete;

    bool Installed() const { return installed_; }

    // Called on the owning thread, from inside the waiting call, when a call the filter
    // cancelled (the argument says why) is still waited for half a second later.
    using StuckHandler = std::function<void(TComCallEnd why)>;
    void OnCancelNotHonoured(StuckHandler handler);

  private:
    struct Ticker;
    IMessageFilter* previous_ = nullptr;
    bool installed_ = false;
    std::unique_ptr<Ticker> ticker_;
};

// A tighter limit for the calls the calling thread makes while it lives (the keep-alive probe:
// a hung server must be noticed soon); a looser one than the thread's own is ignored.
class TComCallLimit {
  public:
    explicit TComCallLimit(uint32_t timeoutMs);
    ~TComCallLimit();
    TComCallLimit(const TComCallLimit&) = delete;
    TComCallLimit& operator=(const TComCallLimit&) = delete;

  private:
    uint32_t outer_;
};

// Why the bounds cancelled the calling thread's last cancelled call (None once taken, or when
// they cancelled nothing); CheckOPCResult asks when a call ends with RPC_E_CALL_CANCELED.
TComCallEnd TakeLastCallEnd();
// The time limit that ended the last timed-out call, in milliseconds.
uint32_t LastCallLimit();
// True when the bounds ended one of the calling thread's calls since the last TakeLastCallEnd
// or ForgetUnansweredCalls (also a call whose result was not looked at).
bool CallEndedByBounds();
// The calling thread's calls get their full time limit again, and what ended an earlier call
// is forgotten (a new connection).
void ForgetUnansweredCalls();

}  // namespace velqor
