// The peers the integration suite runs against: every case runs once per entry.
#include "IntegrationFixture.h"

namespace velqor::integration {

std::vector<PeerKind> AllPeers() {
    return {
        {"XmlDaSim", &MakeXmlDaSimPeer},
        {"ComSimDA10", [] { return MakeComSimPeer("Velqor.SimDA10.1"); }},
        {"ComSimDA20", [] { return MakeComSimPeer("Velqor.SimDA20.1"); }},
        {"ComSimDA20Flat", [] { return MakeComSimPeer("Velqor.SimDA20Flat.1", true); }},
        {"ComSimDA30", [] { return MakeComSimPeer("Velqor.SimDA30.1"); }},
    };
}

INSTANTIATE_TEST_SUITE_P(Peers, IntegrationTest, ::testing::ValuesIn(AllPeers()),
                         [](const ::testing::TestParamInfo<PeerKind>& kind) {
                             return kind.param.Name;
                         });

}  // namespace velqor::integration
