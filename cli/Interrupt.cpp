#include "Interrupt.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <mutex>
#include <thread>

#include "contract/EventLoop.h"
#include "http/VelqorSOAPPoster.h"

namespace tagscope::cli {

namespace {

std::atomic<bool> g_interrupted{false};
std::mutex g_mu;
velqor::EventLoop* g_cleanLoop = nullptr;  // guarded by g_mu

void OnSignal() {
    if (g_interrupted.exchange(true)) _exit(130);
    std::lock_guard lock(g_mu);
    if (g_cleanLoop)
        g_cleanLoop->Post([] {});  // wakes the loop, which then sees the flag
    else
        velqor::InterruptAllPosts();
}

}  // namespace

void InstallInterruptHandling() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A closed pipe (| head) shows as a failing stream instead of ending the process mid-exchange.
    std::signal(SIGPIPE, SIG_IGN);
    std::thread([set] {
        for (;;) {
            int sig = 0;
            if (sigwait(&set, &sig) == 0) OnSignal();
        }
    }).detach();
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
