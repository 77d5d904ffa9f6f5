#include "SimServers.h"

#include <memory>
#include <mutex>

#include "SimServerParts.h"

namespace velqor::sim {
namespace {

constexpr int kClockPeriodMs = 500;

// One plant for every server object of the process, as one device behind one server; its load
// branch as the switches say when it is made.
std::shared_ptr<ComSimAddressSpace> SharedSpace() {
    static std::mutex mu;
    static std::weak_ptr<ComSimAddressSpace> shared;
    std::lock_guard lock(mu);
    auto space = shared.lock();
    if (!space) {
        auto faults = CurrentSimFaults();
        space = std::make_shared<ComSimAddressSpace>(faults->LoadItems, kClockPeriodMs,
                                                     faults->LoadPeriodMs);
        shared = space;
    }
    return space;
}

FILETIME ProcessStartTime() {
    static const FILETIME start = [] {
        FILETIME ft{};
        GetSystemTimeAsFileTime(&ft);
        return ft;
    }();
    return start;
}

template <class Server>
HRESULT Create(REFIID riid, void** object, SimServerIdentity id) {
    if (!object) return E_POINTER;
    *object = nullptr;
    id.StartTime = ProcessStartTime();
    auto server = com::MakeObject<Server>(SharedSpace(), std::move(id));
    return server->QueryInterface(riid, object);
}

// One simulated server: its class and the identity its objects report.
struct SimServerEntry {
    SimServerClass Class;
    const char* VendorInfo;
    WORD Major, Minor, Build;
    bool Flat;
    SimGeneration Generation;
    HRESULT (*Make)(REFIID, void**, SimServerIdentity);
};

const SimServerEntry kServers[] = {
    {{CLSID_VelqorSimDA10, "Velqor.SimDA10", "Velqor Simulated OPC DA 1.0 Server",
      CATID_OPCDAServer10},
     "Velqor simulated OPC DA 1.0 server",
     1,
     0,
     1,
     false,
     SimGeneration::Da10,
     &Create<SimDa10Server>},
    {{CLSID_VelqorSimDA20, "Velqor.SimDA20", "Velqor Simulated OPC DA 2.0 Server",
      CATID_OPCDAServer20},
     "Velqor simulated OPC DA 2.0 server",
     2,
     5,
     1,
     false,
     SimGeneration::Da20,
     &Create<SimDa20Server>},
    {{CLSID_VelqorSimDA20Flat, "Velqor.SimDA20Flat", "Velqor Simulated OPC DA 2.0 Server (Flat)",
      CATID_OPCDAServer20},
     "Velqor simulated OPC DA 2.0 server (flat address space)",
     2,
     5,
     1,
     true,
     SimGeneration::Da20,
     &Create<SimDa20Server>},
    {{CLSID_VelqorSimDA30, "Velqor.SimDA30", "Velqor Simulated OPC DA 3.0 Server",
      CATID_OPCDAServer30},
     "Velqor simulated OPC DA 3.0 server",
     3,
     0,
     1,
     false,
     SimGeneration::Da30,
     &Create<SimDa30Server>},
};

}  // namespace

const std::vector<SimServerClass>& SimulatedServerClasses() {
    static const std::vector<SimServerClass> classes = [] {
        std::vector<SimServerClass> out;
        for (const SimServerEntry& s : kServers) out.push_back(s.Class);
        return out;
    }();
    return classes;
}

HRESULT CreateSimulatedServer(REFCLSID clsid, REFIID riid, void** object) {
    ProcessStartTime();
    for (const SimServerEntry& s : kServers) {
        if (!IsEqualCLSID(s.Class.Clsid, clsid)) continue;
        SimServerIdentity id;
        id.VendorInfo = s.VendorInfo;
        id.MajorVersion = s.Major;
        id.MinorVersion = s.Minor;
        id.BuildNumber = s.Build;
        id.FlatSpace = s.Flat;
        id.Generation = s.Generation;
        return s.Make(riid, object, std::move(id));
    }
    if (object) *object = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

int RequestSimulatedShutdown(const std::string& reason) {
    return ShutdownPart::RequestShutdownOfAll(reason);
}

bool SimulatedRestartAnnounced() { return ShutdownPart::RestartAnnounced(); }

}  // namespace velqor::sim
