// What Interrupt.cpp needs from the platform and from the transports built in; one file each
// (cli/platform): InterruptPosix.cpp or InterruptWindows.cpp, AbortHttp.cpp or AbortNone.cpp.
#pragma once

#include "Commands.h"

namespace tagscope::cli {

// The reaction to Ctrl-C and its kin, called on a thread that may lock and post.
void OnInterrupt();

// Aborts every exchange under way or to come, so that the command ends at once; false when
// the transports built in have nothing that can be aborted.
bool AbortExchanges();

}  // namespace tagscope::cli
