// The server enumerator over the classes of the toolkit's own COM runtime.
#include "OpcServerList.h"
#include "com/OpcDaIntf.h"
#include "com/runtime/ComRuntimeControl.h"

namespace velqor::sim {

std::vector<ListedClass> ListedClasses(const std::string& computer) {
    std::vector<ListedClass> out;
    for (const auto& reg : com::RegisteredClasses(computer))
        out.push_back(
            {reg.Clsid, reg.ProgId, reg.VersionIndependentProgId, reg.Description, reg.Categories});
    return out;
}

void RegisterOpcServerList(const std::string& computer) {
    com::ClassRegistration reg;
    reg.Clsid = CLSID_OpcServerList;
    reg.ProgId = "OPC.ServerList.1";
    reg.VersionIndependentProgId = "OPC.ServerList";
    reg.Description = "OpcServerList Class";
    reg.LocalServer = true;
    reg.Create = [computer](REFIID riid, void** object) {
        return CreateOpcServerList(computer, riid, object);
    };
    com::RegisterComClass(reg, computer);
}

void UnregisterOpcServerList(const std::string& computer) {
    com::UnregisterComClass(CLSID_OpcServerList, computer);
}

}  // namespace velqor::sim
