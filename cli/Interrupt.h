// Ctrl-C (SIGINT) and SIGTERM for tagscope-cli. A thread of its own waits for the signals (they
// are blocked everywhere else), so the reaction can do more than a signal handler may:
// - while a command sits in a loop that can end cleanly on its own (watch), the first signal
//   asks it to end and wakes its event loop;
// - anywhere else the first signal cancels the command's server calls (COM calls, and every
//   HTTP exchange under way or to come), so the command ends at once with kExitInterrupted; a
//   call nothing can cut short (into an in-process server) ends the program half a second
//   later;
// - a second signal ends the program at once (exit status 130).
#pragma once

#include <atomic>

namespace velqor {
class EventLoop;
class CallCancelScope;
}  // namespace velqor

namespace tagscope::cli {

// Call once, before any other thread starts (threads inherit the blocked signals).
void InstallInterruptHandling();
// Set by the first signal.
const std::atomic<bool>& InterruptFlag();

// While alive, the first signal outside a clean stop cancels the calls this scope covers (those
// its thread makes). Make it on the command's thread.
class InterruptibleCalls {
  public:
    explicit InterruptibleCalls(velqor::CallCancelScope& scope);
    ~InterruptibleCalls();
    InterruptibleCalls(const InterruptibleCalls&) = delete;
    InterruptibleCalls& operator=(const InterruptibleCalls&) = delete;
};

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
