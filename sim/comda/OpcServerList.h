// The OPC server enumerator (OPCEnum): IOPCServerList and IOPCServerList2 over the classes
// registered on one computer. Left unregistered, clients fall back to the component
// categories manager, as on a computer without the OPC core components.
#pragma once

#include <string>

namespace velqor::sim {

// Registers the enumerator class (CLSID_OpcServerList, "OPC.ServerList.1") on this computer
// or on a simulated remote computer; it lists the classes of that computer.
void RegisterOpcServerList(const std::string& computer = "");
void UnregisterOpcServerList(const std::string& computer = "");

}  // namespace velqor::sim
