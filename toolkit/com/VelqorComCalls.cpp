#include "VelqorComCalls.h"

#include <chrono>
#include <thread>

#include "com/runtime/PlatformObject.h"
#include "contract/CallCancel.h"

namespace velqor {

namespace {

// The limits of the calling thread: the bounds' own, and a tighter one while a TComCallLimit
// lives. 0: none.
struct ThreadLimits {
    uint32_t bounds = 0;
    uint32_t tighter = 0;
    TComCallEnd lastEnd = TComCallEnd::None;
    uint32_t lastLimit = 0;
    bool unanswered = false;  // a call ran out of time since the last ForgetUnansweredCalls
    // The cancel the filter last gave: the call's elapsed time then, and when.
    bool cancelGiven = false;
    TComCallEnd cancelWhy = TComCallEnd::None;
    DWORD cancelElapsed = 0;
    std::chrono::steady_clock::time_point cancelAt;
    bool stuckReported = false;
    TComCallBounds::StuckHandler stuck;
};
thread_local ThreadLimits t_limits;

uint32_t EffectiveLimit() {
    const ThreadLimits& l = t_limits;
    if (l.bounds == 0) return l.tighter;
    if (l.tighter == 0) return l.bounds;
    return l.tighter < l.bounds ? l.tighter : l.bounds;
}

// How long to wait before retrying a call the server rejected as busy.
constexpr DWORD kRetryBusyMs = 100;
// How long a cancelled call may still be waited for before the cancel counts as not honoured.
constexpr auto kCancelGrace = std::chrono::milliseconds(500);
// How far the clocks of the platform's elapsed time and ours may drift apart within a call.
constexpr long long kSameCallSlackMs = 200;

class CallFilter final : public com::PlatformObject<IMessageFilter> {
  public:
    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
        return SERVERCALL_ISHANDLED;
    }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD elapsed, DWORD rejectType) override {
        // A busy server is asked again within the limit; a rejecting one is not.
        if (rejectType != SERVERCALL_RETRYLATER || Stop(elapsed)) return DWORD(-1);
        return kRetryBusyMs;
    }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD elapsed, DWORD) override {
        ThreadLimits& l = t_limits;
        const auto now = std::chrono::steady_clock::now();
        // The same call asked about again after its cancel (its elapsed time went on with the
        // clock; a later call's started afresh): the platform kept waiting.
        const auto since = std::chrono::duration_cast<std::chrono::milliseconds>(now - l.cancelAt);
        if (l.cancelGiven && elapsed + kSameCallSlackMs >= l.cancelElapsed + since.count()) {
            l.lastEnd = l.cancelWhy;
            if (now - l.cancelAt >= kCancelGrace && !l.stuckReported && l.stuck) {
                l.stuckReported = true;
                l.stuck(l.cancelWhy);
            }
            return PENDINGMSG_CANCELCALL;
        }
        l.cancelGiven = false;
        if (!Stop(elapsed)) return PENDINGMSG_WAITDEFPROCESS;
        l.cancelGiven = true;
        l.cancelWhy = l.lastEnd;
        l.cancelElapsed = elapsed;
        l.cancelAt = now;
        l.stuckReported = false;
        return PENDINGMSG_CANCELCALL;
    }

  private:
    static bool Stop(DWORD elapsed) {
        ThreadLimits& l = t_limits;
        if (CallCancelScope::CurrentCancelled()) {
            l.lastEnd = TComCallEnd::Cancelled;
            return true;
        }
        const uint32_t limit = EffectiveLimit();
        // A server that let one call run out of time is still busy with it, as far as anyone
        // can tell: the calls after it end at once, until the next connect.
        if (l.unanswered || (limit != 0 && elapsed >= limit)) {
            l.lastEnd = TComCallEnd::TimedOut;
            if (!l.unanswered) l.lastLimit = limit;
            l.unanswered = true;
            return true;
        }
        return false;
    }
};

}  // namespace

#ifdef _WIN32
// COM asks the filter only when a posted message arrives during the wait (timer messages do not
// count): a thread of its own posts an empty one to the owning thread every 50 ms, so a limit or
// a cancel is noticed within that time.
struct TComCallBounds::Ticker {
    explicit Ticker(DWORD owner) : stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        thread = std::thread([this, owner] {
            while (WaitForSingleObject(stop, 50) == WAIT_TIMEOUT)
                PostThreadMessageW(owner, WM_NULL, 0, 0);
        });
    }
    ~Ticker() {
        SetEvent(stop);
        thread.join();
        CloseHandle(stop);
    }
    HANDLE stop;
    std::thread thread;
};
#else
// Here the waits that stand in for another process's answer ask the filter themselves.
struct TComCallBounds::Ticker {};
#endif

TComCallBounds::TComCallBounds(uint32_t timeoutMs) {
    com::ComPtr<IMessageFilter> filter = com::MakeObject<CallFilter>();
    installed_ = SUCCEEDED(CoRegisterMessageFilter(filter.Get(), &previous_));
    if (!installed_) return;
    t_limits.bounds = timeoutMs;
#ifdef _WIN32
    ticker_ = std::make_unique<Ticker>(GetCurrentThreadId());
#endif
}

void TComCallBounds::OnCancelNotHonoured(StuckHandler handler) {
    if (installed_) t_limits.stuck = std::move(handler);
}

TComCallBounds::~TComCallBounds() {
    if (!installed_) return;
    ticker_.reset();
    t_limits.bounds = 0;
    t_limits.stuck = nullptr;
    t_limits.cancelGiven = false;
    IMessageFilter* mine = nullptr;
    CoRegisterMessageFilter(previous_, &mine);
    if (previous_) previous_->Release();
    if (mine) mine->Release();
}

TComCallLimit::TComCallLimit(uint32_t timeoutMs) : outer_(t_limits.tighter) {
    if (outer_ == 0 || (timeoutMs != 0 && timeoutMs < outer_)) t_limits.tighter = timeoutMs;
}

TComCallLimit::~TComCallLimit() { t_limits.tighter = outer_; }

TComCallEnd TakeLastCallEnd() {
    ThreadLimits& l = t_limits;
    const TComCallEnd end = l.lastEnd;
    l.lastEnd = TComCallEnd::None;
    l.cancelGiven = false;  // the cancelled call has come back
    return end;
}
uint32_t LastCallLimit() { return t_limits.lastLimit; }

bool CallEndedByBounds() { return t_limits.lastEnd != TComCallEnd::None; }

void ForgetUnansweredCalls() {
    ThreadLimits& l = t_limits;
    l.unanswered = false;
    l.lastEnd = TComCallEnd::None;
    l.cancelGiven = false;
}

}  // namespace velqor
