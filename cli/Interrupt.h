// Ctrl-C (SIGINT) and SIGTERM for tagscope-cli. A thread of its own waits for the signals (they
// are blocked everywhere else), so the reaction can do more than a signal handler may:
// - while a command sits in a loop that can end cleanly on its own (watch), the first signal
//   asks it to end and wakes its event loop;
// - anywhere else the first signal aborts every HTTP exchange under way or to come, so the
//   command ends at once with kExitInterrupted;
// - a second signal ends the program at once (exit status 130).
#pragma once

#include <atomic>

namespace velqor {
class EventLoop;
}

namespace tagscope::cli {

// Call once, before any other thread starts (threads inherit the blocked signals).
void InstallInterruptHandling();
// Set by the first signal.
const std::atomic<bool>& InterruptFlag();

// While alive, the first signal ends the command cleanly and wakes this loop instead of
// aborting the exchanges.
class CleanStopScope {
  public:
    explicit CleanStopScope(velqor::EventLoop& loop);
    ~CleanStopScope();
    CleanStopScope(const CleanStopScope&) = delete;
    CleanStopScope& operator=(const CleanStopScope&) = delete;
};

}  // namespace tagscope::cli
