#include "Interrupt.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "InterruptPlatform.h"
#include "contract/CallCancel.h"
#include "contract/EventLoop.h"

namespace tagscope::cli {

namespace {

std::atomic<bool> g_interrupted{false};
std::mutex g_mu;
velqor::EventLoop* g_cleanLoop = nullptr;    // guarded by g_mu
velqor::CallCancelScope* g_calls = nullptr;  // guarded by g_mu

// How long a cancelled command may take to end before the program ends without it.
constexpr auto kGrace = std::chrono::milliseconds(350);

}  // namespace

void OnInterrupt() {
    if (g_interrupted.exchange(true)) std::_Exit(kExitInterrupted);
    std::lock_guard lock(g_mu);
    if (g_cleanLoop) {
        g_cleanLoop->Post([] {});  // wakes the loop, which then sees the flag
        return;
    }
    if (g_calls) g_calls->Cancel();
    AbortExchanges();
    // A call into an in-process server is a plain function call that nothing can end.
    std::thread([] {
        std::this_thread::sleep_for(kGrace);
        std::fputs("interrupted\n", stderr);
        std::_Exit(kExitInterrupted);
    }).detach();
}

const std::atomic<bool>& InterruptFlag() { return g_interrupted; }

namespace {

// Sets what a signal acts on, under the lock the handler takes.
template <class T>
void SetTarget(T*& target, T* value) {
    std::lock_guard lock(g_mu);
    target = value;
}

}  // namespace

InterruptibleCalls::InterruptibleCalls(velqor::CallCancelScope& scope) {
    SetTarget(g_calls, &scope);
}
InterruptibleCalls::~InterruptibleCalls() { SetTarget<velqor::CallCancelScope>(g_calls, nullptr); }

CleanStopScope::CleanStopScope(velqor::EventLoop& loop) { SetTarget(g_cleanLoop, &loop); }
CleanStopScope::~CleanStopScope() { SetTarget<velqor::EventLoop>(g_cleanLoop, nullptr); }

}  // namespace tagscope::cli
