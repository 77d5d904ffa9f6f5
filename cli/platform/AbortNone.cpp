// Builds with the COM transport alone: a call into a server cannot be cut short from another
// thread, so an interrupt outside a clean stop ends the program.
#include "InterruptPlatform.h"

namespace tagscope::cli {

bool AbortExchanges() { return false; }

}  // namespace tagscope::cli
