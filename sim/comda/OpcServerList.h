// The OPC server enumerator (OPCEnum): IOPCServerList and IOPCServerList2 over the classes
// registered on one computer. Left unregistered, clients fall back to the component
// categories manager, as on a computer without the OPC core components.
#pragma once

#include <string>
#include <vector>

#include "com/runtime/ComPlatform.h"

namespace velqor::sim {

// Registers the enumerator class (CLSID_OpcServerList, "OPC.ServerList.1") on this computer
// or on a simulated remote computer; it lists the classes of that computer.
void RegisterOpcServerList(const std::string& computer = "");
void UnregisterOpcServerList(const std::string& computer = "");

// A class as the enumerator reports it.
struct ListedClass {
    CLSID Clsid{};
    std::string ProgId;                    // "Vendor.Server.1"
    std::string VersionIndependentProgId;  // "Vendor.Server"
    std::string Description;
    std::vector<CATID> Categories;  // "Implemented Categories"
};
// The classes registered on this computer (on Windows: in the system registry) or on a simulated
// remote computer.
std::vector<ListedClass> ListedClasses(const std::string& computer);
// A new enumerator object over those classes, queried for riid.
HRESULT CreateOpcServerList(const std::string& computer, REFIID riid, void** object);

}  // namespace velqor::sim
