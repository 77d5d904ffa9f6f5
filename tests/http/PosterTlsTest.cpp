// HTTPS against loopback servers with certificates from a test authority made at test time:
// the chain must lead to a trusted authority, and the certificate must name the host and be
// within its dates unless the user accepted a bad certificate for this server.
#include <gtest/gtest.h>

#include "LoopbackServers.h"
#include "contract/VelqorError.h"
#include "http/VelqorSOAPPoster.h"

namespace velqor {
namespace {

using test::CertKey;
using test::HttpServer;
using test::TestAuthority;

class PosterTlsTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { test::ClearProxyEnvironment(); }
    void SetUp() override {
        SetCredentialsProvider({});
        caFile = authority.WriteCertificate(dir.Path() + "/ca.pem");
    }

    // Serves one reply over TLS with the given certificate and posts to it.
    std::string PostTo(const CertKey& cert, const std::string& cafile, bool acceptBad = false) {
        HttpServer server(cert.cert.get(), cert.key.get());
        server.Srv().Post("/da", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("<ok>" + req.body + "</ok>", "text/xml");
        });
        server.Start();
        url = server.URL("/da");
        THTTPPostSettings settings;
        settings.URL = url;
        settings.CAFile = cafile;
        settings.AcceptBadCertificate = acceptBad;
        std::string reply;
        try {
            PostOnce(settings, "act", "tls", reply);
        } catch (const Exception& e) {
            return e.what();
        }
        return reply;
    }

    test::TempDir dir;
    TestAuthority authority;
    std::string caFile, url;
};

TEST_F(PosterTlsTest, TrustedAuthorityFromTheCAFile) {
    EXPECT_EQ(PostTo(authority.Issue("localhost"), caFile), "<ok>tls</ok>");
}

// Each bad certificate is refused by default, with the reason, and passes only when accepted;
// a chain from an unknown authority stays refused even then.
TEST_F(PosterTlsTest, BadCertificatesOnlyWhenAccepted) {
    struct Case {
        const char* what;
        CertKey cert;
        const char* reason;
    };
    const Case cases[] = {
        {"expired", authority.Issue("localhost", -30, -1), "expired"},
        {"not yet valid", authority.Issue("localhost", 2, 30), "not yet valid"},
        {"another host", authority.Issue("not-this-host.example"), "127.0.0.1"},
    };
    for (const Case& c : cases) {
        const std::string refused = PostTo(c.cert, caFile);
        EXPECT_NE(refused.find(c.reason), std::string::npos) << c.what << ": " << refused;
        EXPECT_EQ(PostTo(c.cert, caFile, true), "<ok>tls</ok>") << c.what;
    }
    TestAuthority other("Another Test Authority");
    EXPECT_NE(PostTo(other.Issue("localhost", -30, -1), caFile, true), "<ok>tls</ok>");
}

TEST_F(PosterTlsTest, UnknownOrSelfSignedAuthorityIsRefused) {
    const std::string unknown = PostTo(authority.Issue("localhost"), "");
    EXPECT_NE(unknown.find("certificate"), std::string::npos) << unknown;
    EXPECT_NE(unknown.find(" - URL:" + url + " - SOAPAction:act"), std::string::npos);

    const std::string selfSigned = PostTo(TestAuthority::SelfSigned("localhost"), caFile);
    EXPECT_NE(selfSigned.find("self"), std::string::npos) << selfSigned;

    TestAuthority other("Another Test Authority");
    const std::string otherCA = PostTo(other.Issue("localhost"), caFile);
    EXPECT_NE(otherCA.find("certificate"), std::string::npos) << otherCA;
}

TEST_F(PosterTlsTest, UnreadableCAFileIsNamed) {
    const std::string missing = dir.Path() + "/missing.pem";
    const std::string out = PostTo(authority.Issue("localhost"), missing);
    EXPECT_EQ(out, "cannot read the certificate authority file '" + missing + "' - URL:" + url +
                       " - SOAPAction:act");
}

TEST_F(PosterTlsTest, KeepAliveOverTls) {
    CertKey cert = authority.Issue("localhost");
    HttpServer tls(cert.cert.get(), cert.key.get());
    tls.Srv().Post("/da", [&](const httplib::Request& req, httplib::Response& res) {
        tls.NoteConnection(req);
        res.set_content("<ok/>", "text/xml");
    });
    tls.Start();
    THTTPPostSettings settings;
    settings.URL = tls.URL("/da");
    settings.CAFile = caFile;
    auto poster = CreatePoster(settings);
    std::string reply;
    for (int i = 0; i < 3; ++i) poster->Execute("act", "x", reply);
    EXPECT_EQ(tls.Connections(), 1u);
}

}  // namespace
}  // namespace velqor

namespace velqor {
namespace {

// HTTPS through a forward proxy travels in a CONNECT tunnel; a proxy that wants credentials
// answers the CONNECT with 407, and the provider is asked for the proxy.
TEST(PosterTlsProxyTest, TunnelThroughTheProxyWithAskedCredentials) {
    test::ClearProxyEnvironment();
    test::TempDir dir;
    test::TestAuthority authority;
    const std::string caFile = authority.WriteCertificate(dir.Path() + "/ca.pem");
    const test::CertKey cert = authority.Issue("localhost");
    test::HttpServer server(cert.cert.get(), cert.key.get());
    server.Srv().Post("/da", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<ok/>", "text/xml");
    });
    server.Start();
    test::ForwardProxy proxy("bob", "gate");
    std::vector<TCredentialsRequest> asked;
    SetCredentialsProvider([&](const TCredentialsRequest& r) {
        asked.push_back(r);
        return std::optional<TCredentials>(TCredentials{"bob", "gate"});
    });
    THTTPPostSettings settings;
    settings.URL = server.URL("/da");
    settings.Proxy = proxy.Address();
    settings.CAFile = caFile;
    auto poster = CreatePoster(settings);
    std::string reply;
    poster->Execute("act", "<x/>", reply);
    poster->Execute("act", "<x/>", reply);
    SetCredentialsProvider({});
    EXPECT_EQ(reply, "<ok/><ok/>");
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_TRUE(asked[0].ForProxy);
    EXPECT_EQ(asked[0].Realm, "test-proxy");
    const auto lines = proxy.RequestLines();
    ASSERT_EQ(lines.size(), 1u);  // one tunnel, kept alive for both posts
    EXPECT_EQ(lines[0], "CONNECT 127.0.0.1:" + std::to_string(server.Port()) + " HTTP/1.1");
}

}  // namespace
}  // namespace velqor
