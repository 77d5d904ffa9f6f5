#include "LocalServers.h"

namespace tagscope::cli {

// Servers and the server enumerator are the ones registered with the platform.
void RegisterLocalServers() {}

}  // namespace tagscope::cli
