// A simulated OPC DA server of this process as an integration peer, reached through COM on the
// simulated remote computer "plant-sim" (its ProgID is known on this computer too, as installed
// servers' are). Killing it asks its clients to disconnect and takes the computer off the network.
#include "SimPeer.h"
#include "com/runtime/ComPlatform.h"
#include "com/runtime/ComRuntimeControl.h"
#include "comda/SimServers.h"
#include "contract/VelqorIntf.h"

namespace velqor::integration {
namespace {

constexpr const char* kComputer = "plant-sim";

class ComSimPeer : public SimPeer {
  public:
    // The simulated COM servers compare name filters case by case.
    ComSimPeer(std::string progId, bool flat)
        : SimPeer("*Int"), progId_(std::move(progId)), flat_(flat) {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    }
    ~ComSimPeer() override {
        Kill();
        sim::UnregisterSimulatedServers();
        CoUninitialize();
    }

    void Start() override {
        sim::RegisterSimulatedServers();
        com::RegisterRemoteComputer(kComputer);
        sim::RegisterSimulatedServers(kComputer);
    }
    void Kill() override {
        sim::RequestSimulatedShutdown("the integration test stops the server");
        com::UnregisterRemoteComputer(kComputer);
    }

    std::string ServerName() const override { return progId_; }
    std::string ComputerName() const override { return kComputer; }

    std::vector<WritableItem> Writables() const override {
        return {{"Writable/Int", Variant::I4(7654321)}, {"Writable/Double", Variant::R8(-0.125)}};
    }
    int32_t ReadOnlyWriteError() const override { return OPC_E_BADRIGHTS; }
    bool AddValidatesItems() const override { return true; }

    std::string DeadServerError() const override { return "The RPC server is unavailable."; }
    bool FlatSpace() const override { return flat_; }
    std::string NoPropertiesReason() const override {
        return IsDA10() ? "OPC DA 1.0 servers have no item properties" : "";
    }
    std::string UnnoticedDeathReason() const override {
        return IsDA10() ? "an OPC DA 1.0 server cannot ask its clients to disconnect, and the "
                          "simulated one still answers in-process once killed"
                        : "";
    }

  private:
    bool IsDA10() const { return progId_ == "Velqor.SimDA10.1"; }
    std::string progId_;
    bool flat_;
};

}  // namespace

std::unique_ptr<IntegrationPeer> MakeComSimPeer(const std::string& progId, bool flat) {
    return std::make_unique<ComSimPeer>(progId, flat);
}

}  // namespace velqor::integration
