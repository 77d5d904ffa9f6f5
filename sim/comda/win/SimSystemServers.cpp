// On Windows the simulated servers are the system's classes (comda-sim /RegServer, regsvr32
// comda-sim-inproc.dll); registering them in a process only applies the fault switches.
#include <iostream>

#include "comda/SimFaults.h"
#include "comda/SimServers.h"

namespace velqor::sim {

void RegisterSimulatedServers(const std::string&) {
    if (std::string refused = ApplySimFaultsFromEnvironment(); !refused.empty())
        std::cerr << refused << "; no fault switches set from it\n";
}
void UnregisterSimulatedServers(const std::string&) {}
}  // namespace velqor::sim
