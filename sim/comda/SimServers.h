// The simulated OPC DA servers: the built-in servers a new user explores and the peers of the
// COM transport's tests. One call registers them all with the COM runtime, on this computer or
// on a simulated remote one; Tagscope, tagscope-cli and the tests make it at start-up.
#pragma once

#include <string>
#include <vector>

#include "com/runtime/ComPlatform.h"

namespace velqor::sim {

// "Velqor.SimDA20.1": OPC DA 2.0, hierarchical address space.
inline constexpr CLSID CLSID_VelqorSimDA20 =
    velqor::com::MakeIid("727DF4D6-E3F2-4F4B-A6EC-D30E32960E30");

// "Velqor.SimDA20Flat.1": OPC DA 2.0, the same items in a flat address space.
inline constexpr CLSID CLSID_VelqorSimDA20Flat =
    velqor::com::MakeIid("A84F4755-15D8-42FC-B008-4D6642B93095");

// "Velqor.SimDA30.1": OPC DA 3.0, browsed through IOPCBrowse, read and written by item ID.
inline constexpr CLSID CLSID_VelqorSimDA30 =
    velqor::com::MakeIid("40A1578C-1A37-462A-8444-791ABA675002");

// "Velqor.SimDA10.1": OPC DA 1.0, hierarchical address space, no common interface, no
// connection points.
inline constexpr CLSID CLSID_VelqorSimDA10 =
    velqor::com::MakeIid("407C186B-9B67-4EAE-AEA5-F3F64EBBC460");

// One simulated server class as the registry knows it: ProgId is the version-independent name
// ("Velqor.SimDA20"; the versioned one adds ".1").
struct SimServerClass {
    CLSID Clsid;
    const char* ProgId;
    const char* Description;
    CATID Category;
};
// Every simulated server class, in registration order.
const std::vector<SimServerClass>& SimulatedServerClasses();
// Makes a new object of a simulated server class and queries it for riid;
// CLASS_E_CLASSNOTAVAILABLE for a class that is not one of them.
HRESULT CreateSimulatedServer(REFCLSID clsid, REFIID riid, void** object);

// Registers every simulated server (and leaves the server enumerator alone: that is
// RegisterOpcServerList's). Calling it again replaces the registrations. Applies the fault
// switches of VELQOR_COMSIM_FAULTS when that is set (SimFaults.h); a value it cannot take is
// refused as a whole with a message on the standard error stream. On Windows the classes are
// the system's (comda-sim /RegServer or regsvr32 comda-sim-inproc.dll): there it only applies
// the fault switches, for servers made in this process.
void RegisterSimulatedServers(const std::string& computer = "");
void UnregisterSimulatedServers(const std::string& computer = "");

// Fault switch: every live simulated server asks its clients to disconnect, once per advised
// shutdown sink, on the event loop the server object was created on. Returns the number of
// server objects that queued the request. Thread-safe.
int RequestSimulatedShutdown(const std::string& reason);
// True once the shutdown-after switch has asked the clients to shut down (a server process of
// its own then ends, as a server being restarted does).
bool SimulatedRestartAnnounced();

// The thread CPU time the simulated groups have spent making and sending data changes at their
// update rate, since the process started, without the time their clients' callbacks took; lets
// a bench tell an in-process client's CPU from the server's on the thread they share.
double SimulatedDataChangeCpuSeconds();

}  // namespace velqor::sim
