// The simulated servers registered with the toolkit's own COM runtime.
#include <iostream>

#include "SimFaults.h"
#include "SimServers.h"
#include "com/runtime/ComRuntimeControl.h"

namespace velqor::sim {

void RegisterSimulatedServers(const std::string& computer) {
    if (std::string refused = ApplySimFaultsFromEnvironment(); !refused.empty())
        std::cerr << refused << "; no fault switches set from it\n";
    for (const SimServerClass& s : SimulatedServerClasses()) {
        com::ClassRegistration reg;
        reg.Clsid = s.Clsid;
        reg.ProgId = std::string(s.ProgId) + ".1";
        reg.VersionIndependentProgId = s.ProgId;
        reg.Description = s.Description;
        reg.Categories = {s.Category};
        reg.LocalServer = true;
        reg.Create = [clsid = s.Clsid](REFIID riid, void** object) {
            return CreateSimulatedServer(clsid, riid, object);
        };
        com::RegisterComClass(reg, computer);
    }
}

void UnregisterSimulatedServers(const std::string& computer) {
    for (const SimServerClass& s : SimulatedServerClasses())
        com::UnregisterComClass(s.Clsid, computer);
}

}  // namespace velqor::sim
