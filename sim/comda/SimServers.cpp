#include "SimServers.h"

#include <memory>
#include <mutex>
#include <set>

#include "SimDaServer.h"
#include "com/runtime/ComRuntimeControl.h"

namespace velqor::sim {
namespace {

constexpr int kLoadItems = 10000;
constexpr int kClockPeriodMs = 500;

// The live server objects, so a fault switch can reach them from any thread. A server leaves
// before its members are destroyed, and requests are made under the same lock.
struct LiveServers {
    std::mutex mu;
    std::set<SimDaServer*> servers;
};
LiveServers& Live() {
    static LiveServers live;
    return live;
}

class TrackedServer : public SimDaServer {
  public:
    using SimDaServer::SimDaServer;
    void Track() {
        std::lock_guard lock(Live().mu);
        Live().servers.insert(this);
    }
    ~TrackedServer() override {
        std::lock_guard lock(Live().mu);
        Live().servers.erase(this);
    }
};

// One plant for every server object of the process, as one device behind one server.
std::shared_ptr<ComSimAddressSpace> SharedSpace() {
    static std::mutex mu;
    static std::weak_ptr<ComSimAddressSpace> shared;
    std::lock_guard lock(mu);
    auto space = shared.lock();
    if (!space) {
        space = std::make_shared<ComSimAddressSpace>(kLoadItems, kClockPeriodMs);
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

HRESULT CreateDa20(REFIID riid, void** object, bool flat) {
    if (!object) return E_POINTER;
    *object = nullptr;
    SimServerIdentity id;
    id.VendorInfo = flat ? "Velqor simulated OPC DA 2.0 server (flat address space)"
                         : "Velqor simulated OPC DA 2.0 server";
    id.FlatSpace = flat;
    id.MajorVersion = 2;
    id.MinorVersion = 5;
    id.BuildNumber = 1;
    id.StartTime = ProcessStartTime();
    auto server = com::MakeObject<TrackedServer>(SharedSpace(), id);
    server->Track();
    return server->QueryInterface(riid, object);
}

}  // namespace

void RegisterSimulatedServers(const std::string& computer) {
    ProcessStartTime();
    com::ClassRegistration da20;
    da20.Clsid = CLSID_VelqorSimDA20;
    da20.ProgId = "Velqor.SimDA20.1";
    da20.VersionIndependentProgId = "Velqor.SimDA20";
    da20.Description = "Velqor Simulated OPC DA 2.0 Server";
    da20.Categories = {CATID_OPCDAServer20};
    da20.LocalServer = true;
    da20.Create = [](REFIID riid, void** object) { return CreateDa20(riid, object, false); };
    com::RegisterComClass(da20, computer);

    com::ClassRegistration flat = da20;
    flat.Clsid = CLSID_VelqorSimDA20Flat;
    flat.ProgId = "Velqor.SimDA20Flat.1";
    flat.VersionIndependentProgId = "Velqor.SimDA20Flat";
    flat.Description = "Velqor Simulated OPC DA 2.0 Server (Flat)";
    flat.Create = [](REFIID riid, void** object) { return CreateDa20(riid, object, true); };
    com::RegisterComClass(flat, computer);
}

void UnregisterSimulatedServers(const std::string& computer) {
    com::UnregisterComClass(CLSID_VelqorSimDA20, computer);
    com::UnregisterComClass(CLSID_VelqorSimDA20Flat, computer);
}

int RequestSimulatedShutdown(const std::string& reason) {
    std::lock_guard lock(Live().mu);
    for (SimDaServer* s : Live().servers) s->RequestShutdown(reason);
    return static_cast<int>(Live().servers.size());
}

}  // namespace velqor::sim
