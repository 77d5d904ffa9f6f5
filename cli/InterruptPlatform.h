// What Interrupt.cpp needs from the platform and from the transports built in; one file each
// (cli/platform): InterruptPosix.cpp or InterruptWindows.cpp, AbortHttp.cpp or AbortNone.cpp.
#pragma once

#include "Commands.h"

namespace tagscope::cli {

// The reaction to Ctrl-C and its kin, called on a thread that may lock and post.
void OnInterrupt();

// Aborts every HTTP exchange under way or to come, so that the command ends at once; false
// when no HTTP transport is built in.
bool AbortExchanges();

}  // namespace tagscope::cli
