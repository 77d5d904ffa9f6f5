// xmlda-sim in-process on a free loopback port as an integration peer.
#include <cstdlib>

#include "SimPeer.h"
#include "contract/VelqorIntf.h"
#include "xmlda/XmlDaSim.h"

namespace velqor::integration {
namespace {

class XmlDaSimPeer : public SimPeer {
  public:
    XmlDaSimPeer() : SimPeer("*int"), sim_(SimOptions()) {
        // A proxy from the environment must not stand between the client and loopback.
        for (const char* v :
             {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(v);
    }
    ~XmlDaSimPeer() override { sim_.stop(); }

    void Start() override { sim_.start(); }
    // The port closes: connects are refused and polls and keep-alive probes fail.
    void Kill() override { sim_.stop(); }

    std::string ServerName() const override { return sim_.url(); }

    std::vector<WritableItem> Writables() const override {
        return {
            {"Writable/Short", Variant::I2(-1234)},
            {"Writable/Int", Variant::I4(7654321)},
            {"Writable/Float", Variant::R4(2.5f)},
            {"Writable/Double", Variant::R8(-0.125)},
            {"Writable/Boolean", Variant::Bool(true)},
            {"Writable/String", Variant::Str("Grüße, 1;2")},
            {"Writable/DateTime", Variant::Date(45000.5)},
            {"Writable/Arrays/ArrayOfInt",
             Variant::Array(VT_I4, {Variant::I4(3), Variant::I4(-1), Variant::I4(40000)})},
        };
    }
    int32_t ReadOnlyWriteError() const override { return OPC_E_READONLY; }
    // XML-DA has no add operation: items are checked when they are first subscribed or read.
    bool AddValidatesItems() const override { return false; }

  private:
    static xmldasim::Options SimOptions() {
        xmldasim::Options o;
        o.clockPeriodMs = 100;
        o.loadItems = 20;
        return o;
    }

    xmldasim::Service sim_;
};

}  // namespace

std::unique_ptr<IntegrationPeer> MakeXmlDaSimPeer() { return std::make_unique<XmlDaSimPeer>(); }

}  // namespace velqor::integration
