// Credentials and proxies: server authentication with and without the application's
// credentials provider, and a forward proxy with and without its own credentials.
#include <gtest/gtest.h>

#include "LoopbackServers.h"
#include "contract/VelqorError.h"
#include "http/VelqorSOAPPoster.h"

namespace velqor {
namespace {

using test::ForwardProxy;
using test::HttpServer;

class PosterAuthTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { test::ClearProxyEnvironment(); }
    void SetUp() override {
        SetCredentialsProvider({});
        // Basic authentication for alice:wonder on every path.
        server.Srv().Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
            ++requests;
            if (req.get_header_value("Authorization") != "Basic " + test::Base64("alice:wonder")) {
                res.status = 401;
                res.set_header("WWW-Authenticate", "Basic realm=\"velqor-test\"");
                res.set_content("<html>who?</html>", "text/html");
                return;
            }
            res.set_content("<ok/>", "text/xml");
        });
        server.Start();
    }
    void TearDown() override { SetCredentialsProvider({}); }

    std::string Post(THTTPPost& poster) {
        std::string reply;
        try {
            poster.Execute("act", "<x/>", reply);
        } catch (const EAbort&) {
            return "EAbort";
        } catch (const Exception& e) {
            return e.what();
        }
        return reply;
    }

    // Installs a provider that records each question and gives answer to all of them.
    void AnswerAlways(std::optional<TCredentials> answer) {
        SetCredentialsProvider([this, answer](const TCredentialsRequest& r) {
            asked.push_back(r);
            return answer;
        });
    }
    // A poster for the server's path, with no credentials of its own.
    std::unique_ptr<THTTPPost> Anonymous() {
        return CreatePoster(server.URL("/da"), "", "", "", "");
    }
    // The error of an exchange the server refused.
    std::string Unauthorized() { return "Unauthorized (401) - '" + server.URL("/da") + "'"; }

    HttpServer server;
    std::atomic<int> requests{0};
    std::vector<TCredentialsRequest> asked;
};

TEST_F(PosterAuthTest, GivenCredentialsAreUsed) {
    auto poster = CreatePoster(server.URL("/da"), "", "alice", "", "wonder");
    EXPECT_EQ(Post(*poster), "<ok/>");
    EXPECT_EQ(Post(*poster), "<ok/>");
}

TEST_F(PosterAuthTest, WithoutProviderThe401IsAnError) {
    auto poster = Anonymous();
    EXPECT_EQ(Post(*poster), Unauthorized());
    EXPECT_FALSE(poster->Connected());
}

TEST_F(PosterAuthTest, WrongGivenCredentialsAreAnErrorWithoutAsking) {
    AnswerAlways(TCredentials{"alice", "wonder"});
    auto poster = CreatePoster(server.URL("/da"), "", "alice", "", "wrong");
    EXPECT_EQ(Post(*poster), Unauthorized());
    EXPECT_TRUE(asked.empty());
}

TEST_F(PosterAuthTest, ProviderIsAskedRetriedAndRemembered) {
    SetCredentialsProvider([this](const TCredentialsRequest& r) {
        asked.push_back(r);
        if (r.Attempt == 1) return std::optional<TCredentials>(TCredentials{"alice", "nope"});
        return std::optional<TCredentials>(TCredentials{"alice", "wonder"});
    });
    auto poster = Anonymous();
    EXPECT_EQ(Post(*poster), "<ok/>");
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].URL, server.URL("/da"));
    EXPECT_EQ(asked[0].Realm, "velqor-test");
    EXPECT_FALSE(asked[0].ForProxy);
    EXPECT_EQ(asked[1].Attempt, 2);
    // The answer stays with the poster: the next exchange does not ask again.
    EXPECT_EQ(Post(*poster), "<ok/>");
    EXPECT_EQ(asked.size(), 2u);
}

TEST_F(PosterAuthTest, CancellingIsTheSilentAbort) {
    AnswerAlways(std::nullopt);
    auto poster = Anonymous();
    EXPECT_EQ(Post(*poster), "EAbort");
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_FALSE(poster->Connected());
}

TEST_F(PosterAuthTest, ARefusingProviderIsNotAskedForever) {
    AnswerAlways(TCredentials{"mallory", "guess"});
    auto poster = Anonymous();
    EXPECT_EQ(Post(*poster), Unauthorized());
    EXPECT_GE(asked.size(), 1u);
    EXPECT_LE(asked.size(), 10u);
}

// -------------------------------------------------------------------------------------- proxy

TEST_F(PosterAuthTest, RequestsGoThroughTheProxy) {
    ForwardProxy proxy;
    auto poster = CreatePoster(server.URL("/da"), proxy.Address(), "alice", "", "wonder");
    EXPECT_EQ(Post(*poster), "<ok/>");
    auto lines = proxy.RequestLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "POST " + server.URL("/da") + " HTTP/1.1");
}

TEST_F(PosterAuthTest, BypassListSkipsTheProxy) {
    ForwardProxy proxy;
    auto poster = CreatePoster(server.URL("/da"), proxy.Address(), "alice", "", "wonder");
    poster->SetProxyBypass("localhost;127.0.0.1");
    EXPECT_EQ(Post(*poster), "<ok/>");
    EXPECT_TRUE(proxy.RequestLines().empty());
}

TEST_F(PosterAuthTest, ProxyCredentialsFromTheProviderOrTheProxyText) {
    ForwardProxy proxy("bob", "gate");
    {
        auto poster = CreatePoster(server.URL("/da"), proxy.Address(), "alice", "", "wonder");
        EXPECT_EQ(Post(*poster),
                  "Proxy Authentication Required (407) - '" + server.URL("/da") + "'");
    }
    AnswerAlways(TCredentials{"bob", "gate"});
    {
        auto poster = CreatePoster(server.URL("/da"), proxy.Address(), "alice", "", "wonder");
        EXPECT_EQ(Post(*poster), "<ok/>");
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_TRUE(asked[0].ForProxy);
        EXPECT_EQ(asked[0].Proxy, proxy.Address());
        EXPECT_EQ(asked[0].Realm, "test-proxy");
    }
    {
        auto poster =
            CreatePoster(server.URL("/da"), "bob:gate@" + proxy.Address(), "alice", "", "wonder");
        EXPECT_EQ(Post(*poster), "<ok/>");
        EXPECT_EQ(asked.size(), 1u);
    }
}

}  // namespace
}  // namespace velqor

namespace velqor {
namespace {

// A server that offers only Digest: the poster must pick that scheme by itself.
TEST(PosterAuthSchemeTest, DigestChallengeIsAnsweredWithDigest) {
    test::ClearProxyEnvironment();
    std::mutex mu;
    std::vector<std::string> authorizations;
    test::RawServer raw([&](int fd) {
        for (std::string req; !(req = test::ReadRequest(fd)).empty();) {
            const std::string auth = test::HeaderValue(req, "Authorization");
            {
                std::lock_guard lock(mu);
                authorizations.push_back(auth);
            }
            if (auth.rfind("Digest ", 0) == 0 &&
                auth.find("username=\"alice\"") != std::string::npos &&
                auth.find("realm=\"dig\"") != std::string::npos &&
                auth.find("nonce=\"n0nce\"") != std::string::npos)
                test::SendAll(fd,
                              "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n"
                              "Content-Length: 5\r\n\r\n<ok/>");
            else
                test::SendAll(fd,
                              "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest "
                              "realm=\"dig\", nonce=\"n0nce\", qop=\"auth\"\r\n"
                              "Content-Length: 0\r\n\r\n");
        }
    });
    auto poster = CreatePoster(raw.URL("/da"), "", "alice", "", "wonder");
    std::string reply;
    poster->Execute("act", "<x/>", reply);
    EXPECT_EQ(reply, "<ok/>");
    std::lock_guard lock(mu);
    ASSERT_FALSE(authorizations.empty());
    EXPECT_EQ(authorizations.back().rfind("Digest ", 0), 0u);
}

}  // namespace
}  // namespace velqor
