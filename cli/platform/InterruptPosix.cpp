// SIGINT and SIGTERM on POSIX systems: blocked in every thread and taken by a thread of its own
// with sigwait, so the reaction can lock and post.
#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <thread>

#include "Interrupt.h"
#include "InterruptPlatform.h"

namespace tagscope::cli {

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
            if (sigwait(&set, &sig) == 0) OnInterrupt();
        }
    }).detach();
}

}  // namespace tagscope::cli
