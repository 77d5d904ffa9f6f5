// What the service asks of the process it runs in, which differs by platform: one file each in
// platform/ (POSIX signals and glibc's allocator; the Windows console's control events).
#pragma once

namespace velqor::xmldasim {

class Service;

// Before the service's threads start: keeps stop requests for the waiting thread alone, and
// tunes the allocator for replies of many megabytes.
void PrepareProcess();
// Returns once a stop is asked (Ctrl-C, SIGTERM, the console closing). Meanwhile drops every
// subscription on request (SIGUSR1, where there are signals) and every dropEveryMs when > 0.
void WaitForStop(Service& service, int dropEveryMs);
// Gives the allocator's free memory back to the system where it can be asked to.
void ReturnFreeMemory();

}  // namespace velqor::xmldasim
