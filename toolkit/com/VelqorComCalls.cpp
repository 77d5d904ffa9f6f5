#include "VelqorComCalls.h"

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
        return Stop(elapsed) ? PENDINGMSG_CANCELCALL : PENDINGMSG_WAITDEFPROCESS;
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

TComCallBounds::TComCallBounds(uint32_t timeoutMs) {
    com::ComPtr<IMessageFilter> filter = com::MakeObject<CallFilter>();
    installed_ = SUCCEEDED(CoRegisterMessageFilter(filter.Get(), &previous_));
    if (!installed_) return;
    t_limits.bounds = timeoutMs;
#ifdef _WIN32
    // COM asks the filter only when a message arrives during the wait: a thread timer makes
    // sure one does, so a limit or a cancel is noticed within its period.
    timer_ = SetTimer(nullptr, 0, 50, nullptr);
#endif
}

TComCallBounds::~TComCallBounds() {
    if (!installed_) return;
#ifdef _WIN32
    if (timer_) KillTimer(nullptr, timer_);
#endif
    t_limits.bounds = 0;
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
    const TComCallEnd end = t_limits.lastEnd;
    t_limits.lastEnd = TComCallEnd::None;
    return end;
}
uint32_t LastCallLimit() { return t_limits.lastLimit; }

void ForgetUnansweredCalls() { t_limits.unanswered = false; }

}  // namespace velqor
