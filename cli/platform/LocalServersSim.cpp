#include "LocalServers.h"
#include "comda/OpcServerList.h"
#include "comda/SimServers.h"

namespace tagscope::cli {

// The simulated OPC DA servers are always there to connect to, as installed servers are.
// So is the OPC server enumerator, as on a computer with the OPC core components.
void RegisterLocalServers() {
    velqor::sim::RegisterSimulatedServers();
    velqor::sim::RegisterOpcServerList();
}

}  // namespace tagscope::cli
