// Builds with the COM transport alone: no HTTP exchange to abort (COM calls are cancelled
// through the command's call scope).
#include "InterruptPlatform.h"

namespace tagscope::cli {

bool AbortExchanges() { return false; }

}  // namespace tagscope::cli
