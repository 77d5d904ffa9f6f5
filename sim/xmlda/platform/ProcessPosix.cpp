#include <malloc.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "xmlda/Process.h"
#include "xmlda/XmlDaSim.h"

namespace velqor::xmldasim {

namespace {

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    return set;
}

}  // namespace

void PrepareProcess() {
    // Signals are taken by this thread alone; the service's threads inherit the blocked mask.
    const sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);

    // Reply buffers of up to some ten thousand items (a few megabytes each, every poll) stay in
    // the allocator's heaps for the next reply: mapping them fresh each time costs more in page
    // faults than writing them. Free space above the trim threshold still goes back to the
    // system, and larger buffers are mapped and returned as before.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 32 * 1024 * 1024);
}

void WaitForStop(Service& sim, int dropEveryMs) {
    const sigset_t set = StopSignals();
    for (;;) {
        int sig = 0;
        if (dropEveryMs > 0) {
            timespec ts{dropEveryMs / 1000, static_cast<long>(dropEveryMs % 1000) * 1000000L};
            sig = sigtimedwait(&set, nullptr, &ts);
            if (sig < 0 && errno == EAGAIN) {  // the period is over
                sim.dropAllSubscriptions();
                continue;
            }
            if (sig < 0) continue;  // interrupted
        } else if (sigwait(&set, &sig) != 0) {
            return;
        }
        if (sig != SIGUSR1) return;
        sim.dropAllSubscriptions();
        std::printf("xmlda-sim: all subscriptions dropped\n");
        std::fflush(stdout);
    }
}

void ReturnFreeMemory() { malloc_trim(0); }

}  // namespace velqor::xmldasim
