#include "Interrupt.h"

#include <cstdlib>
#include <mutex>

#include "InterruptPlatform.h"
#include "contract/EventLoop.h"

namespace tagscope::cli {

namespace {

std::atomic<bool> g_interrupted{false};
std::mutex g_mu;
velqor::EventLoop* g_cleanLoop = nullptr;  // guarded by g_mu

}  // namespace

void OnInterrupt() {
    if (g_interrupted.exchange(true)) std::_Exit(kExitInterrupted);
    std::lock_guard lock(g_mu);
    if (g_cleanLoop)
        g_cleanLoop->Post([] {});  // wakes the loop, which then sees the flag
    else if (!AbortExchanges())
        std::_Exit(kExitInterrupted);  // nothing under way can be cut short from outside
}

const std::atomic<bool>& InterruptFlag() { return g_interrupted; }

CleanStopScope::CleanStopScope(velqor::EventLoop& loop) {
    std::lock_guard lock(g_mu);
    g_cleanLoop = &loop;
}

CleanStopScope::~CleanStopScope() {
    std::lock_guard lock(g_mu);
    g_cleanLoop = nullptr;
}

}  // namespace tagscope::cli
