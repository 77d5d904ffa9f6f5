// tagscope-cli over HTTPS: xmlda-sim behind a loopback TLS front whose certificate comes from a
// test authority. A certificate out of its dates or for another host is refused unless the
// command line accepts it, and then every connect says so.
#include "CliFixture.h"
#include "LoopbackServers.h"

namespace tagscope::clitest {
namespace {

using velqor::test::CertKey;
using velqor::test::TestAuthority;

class CliTlsTest : public CliTest {
  protected:
    // Runs status against a TLS front with this certificate that relays to the simulator.
    Result StatusOverTls(const CertKey& cert, std::vector<std::string> extra) {
        velqor::test::TlsRelay front(cert, sim.port());
        std::vector<std::string> args = {
            "status", front.URL("/opc/xmlda"), "--cafile", caFile, "--timeout", "20"};
        args.insert(args.end(), extra.begin(), extra.end());
        return Cli(args);
    }

    velqor::test::TempDir dir;
    TestAuthority authority;
    std::string caFile = authority.WriteCertificate(dir.Path() + "/ca.pem");
};

TEST_F(CliTlsTest, BadCertificateOnlyWithTheSwitchAndThenWithAWarning) {
    const Result good = StatusOverTls(authority.Issue("localhost"), {});
    EXPECT_EQ(good.exitCode, 0) << good.err;
    EXPECT_EQ(good.err.find("warning"), std::string::npos) << good.err;

    struct Case {
        const char* what;
        CertKey cert;
        const char* reason;
    };
    const Case cases[] = {
        {"expired", authority.Issue("localhost", -30, -1), "expired"},
        {"another host", authority.Issue("plant-b.example"), "127.0.0.1"},
    };
    for (const Case& c : cases) {
        const Result refused = StatusOverTls(c.cert, {});
        EXPECT_EQ(refused.exitCode, 1) << c.what;
        EXPECT_NE(refused.err.find(c.reason), std::string::npos) << c.what << ": " << refused.err;

        const Result accepted = StatusOverTls(c.cert, {"--accept-bad-cert"});
        EXPECT_EQ(accepted.exitCode, 0) << c.what << ": " << accepted.err;
        EXPECT_NE(accepted.err.find("warning: the certificate of https://127.0.0.1:"),
                  std::string::npos)
            << c.what << ": " << accepted.err;
    }
}

}  // namespace
}  // namespace tagscope::clitest
