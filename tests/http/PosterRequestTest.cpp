// The poster against real loopback servers: what goes on the wire, how replies are checked,
// and when the connection is kept or dropped.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "LoopbackServers.h"
#include "contract/VelqorError.h"
#include "http/VelqorCurlPost.h"
#include "http/VelqorSOAPPoster.h"
#include "support/Deflate.h"

namespace velqor {
namespace {

using test::HttpServer;
using test::RawServer;

constexpr char kAction[] = "http://opcfoundation.org/webservices/XMLDA/1.0/GetStatus";
const std::string kReply = "<?xml version=\"1.0\"?><Envelope>reply</Envelope>";

class PosterTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { test::ClearProxyEnvironment(); }
    void SetUp() override { SetCredentialsProvider({}); }

    // A server that records the last request and answers with kReply as text/xml.
    void StartEcho() {
        server.Srv().Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
            server.NoteConnection(req);
            std::lock_guard lock(mu);
            last = req;
            ++requests;
            res.set_content(kReply, "text/xml; charset=utf-8");
        });
        server.Start();
    }
    httplib::Request Last() {
        std::lock_guard lock(mu);
        return last;
    }
    int Requests() {
        std::lock_guard lock(mu);
        return requests;
    }

    HttpServer server;
    std::mutex mu;
    httplib::Request last;
    int requests = 0;
};

std::string Expect(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const EAbort&) {
        return "EAbort";
    } catch (const Exception& e) {
        return e.what();
    }
    return "no error";
}

// ----------------------------------------------------------------------------------- request

TEST(SOAPActionHeaderTest, ThreeRules) {
    EXPECT_EQ(SOAPActionHeader(""), "SOAPAction:");
    EXPECT_EQ(SOAPActionHeader("\"\""), "SOAPAction: \"\"");
    EXPECT_EQ(SOAPActionHeader("A"), "SOAPAction: \"A\"");
    EXPECT_EQ(SOAPActionHeader("\"A\""), "SOAPAction: \"\"A\"\"");
}

TEST_F(PosterTest, SendsPostWithHeadersAndWholeBody) {
    StartEcho();
    auto poster = CreatePoster(server.URL("/da/service?x=1"), "", "", "ms", "");
    const std::string body = "<Envelope>\xC3\xA4 body</Envelope>";
    std::string reply;
    poster->Execute(kAction, body, reply);
    EXPECT_EQ(reply, kReply);
    auto req = Last();
    EXPECT_EQ(req.method, "POST");
    EXPECT_EQ(req.path, "/da/service");
    EXPECT_EQ(req.get_param_value("x"), "1");
    EXPECT_EQ(req.body, body);
    EXPECT_EQ(req.get_header_value("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(req.get_header_value("SOAPAction"), std::string("\"") + kAction + "\"");
    EXPECT_EQ(req.get_header_value("Content-Type"), "text/xml; charset=\"utf-8\"");
    EXPECT_EQ(req.get_header_value("User-Agent").rfind("Velqor XML DA Client", 0), 0u);
    EXPECT_FALSE(req.has_header("Expect"));
}

TEST_F(PosterTest, SOAPActionVariantsOnTheWire) {
    std::mutex wireMu;
    std::vector<std::string> wire;
    RawServer raw([&](int fd) {
        for (std::string req; !(req = test::ReadRequest(fd)).empty();) {
            {
                std::lock_guard lock(wireMu);
                wire.push_back(req);
            }
            test::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n<x/>");
        }
    });
    auto poster = CreatePoster(raw.URL(), "", "", "", "");
    std::string reply;
    poster->Execute("", "x", reply);
    poster->Execute("\"\"", "x", reply);
    poster->Execute("urn:a", "x", reply);
    std::lock_guard lock(wireMu);
    ASSERT_EQ(wire.size(), 3u);
    EXPECT_NE(wire[0].find("\r\nSOAPAction:\r\n"), std::string::npos) << wire[0];
    EXPECT_NE(wire[1].find("\r\nSOAPAction: \"\"\r\n"), std::string::npos) << wire[1];
    EXPECT_NE(wire[2].find("\r\nSOAPAction: \"urn:a\"\r\n"), std::string::npos) << wire[2];
}

TEST_F(PosterTest, LargeBodiesArriveIntact) {
    StartEcho();
    auto poster = CreatePoster(server.URL("/"), "", "", "", "");
    for (std::size_t size : {std::size_t{32768}, std::size_t{32769}, std::size_t{5} << 20}) {
        std::string body(size, '\0');
        for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + (i * 7) % 26);
        std::string reply;
        poster->Execute(kAction, body, reply);
        EXPECT_EQ(Last().body, body) << size;
    }
}

TEST_F(PosterTest, EmptyOrForeignURLIsRefused) {
    for (const char* url : {"", "   ", "ftp://127.0.0.1/x", "127.0.0.1:80/x", "http//x"}) {
        auto poster = CreatePoster(url, "", "", "", "");
        std::string reply;
        EXPECT_EQ(Expect([&] { poster->Execute(kAction, "x", reply); }), "no or invalid url")
            << url;
        EXPECT_FALSE(poster->Connected());
    }
}

TEST_F(PosterTest, CracksSchemeHostPortAndPath) {
    TVelqorCurlPost poster;
    poster.SetURL("https://opc.example:8443/da?svc=1");
    poster.SetConnected(true);  // cracking touches no network
    EXPECT_EQ(poster.Scheme(), TVelqorCurlPost::schemeHTTPS);
    EXPECT_EQ(poster.Host(), "opc.example");
    EXPECT_EQ(poster.Port(), 8443);
    EXPECT_EQ(poster.URLPath(), "/da?svc=1");
    poster.SetURL("HTTP://opc.example");
    poster.SetConnected(true);
    EXPECT_EQ(poster.Scheme(), TVelqorCurlPost::schemeHTTP);
    EXPECT_EQ(poster.Port(), 80);
    EXPECT_EQ(poster.URLPath(), "/");
}

// ---------------------------------------------------------------------------------- responses

TEST_F(PosterTest, StatusErrorsCarryTextCodeAndURLAndDisconnect) {
    server.Srv().Post("/missing", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("<html>gone</html>", "text/html");
    });
    server.Srv().Post("/busy",
                      [](const httplib::Request&, httplib::Response& res) { res.status = 503; });
    server.Start();
    for (auto [path, text] : {std::pair{"/missing", "Not Found (404) - '"},
                              std::pair{"/busy", "Service Unavailable (503) - '"}}) {
        auto poster = CreatePoster(server.URL(path), "", "", "", "");
        std::string reply;
        EXPECT_EQ(Expect([&] { poster->Execute(kAction, "x", reply); }),
                  text + server.URL(path) + "'");
        EXPECT_FALSE(poster->Connected());
    }
}

TEST_F(PosterTest, Status500PassesTheFaultBodyToTheReader) {
    const std::string fault = "<Envelope><Body><Fault>boom</Fault></Body></Envelope>";
    server.Srv().Post("/", [&](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content(fault, "text/xml");
    });
    server.Start();
    auto poster = CreatePoster(server.URL(), "", "", "", "");
    std::string reply;
    poster->Execute(kAction, "x", reply);
    EXPECT_EQ(reply, fault);
    EXPECT_TRUE(poster->Connected());
}

// The media type counts, not its parameters or case; under status 500 such a page is an HTTP
// error that names the status.
TEST_F(PosterTest, ContentTypeCheckReadsTheMediaType) {
    std::string type;
    int status = 200;
    server.Srv().Post("/", [&](const httplib::Request&, httplib::Response& res) {
        res.status = status;
        res.set_content("<x/>", type.c_str());
    });
    server.Start();
    const struct {
        const char* type;
        int status;
        const char* result;
    } cases[] = {
        {"text/html", 200, "invalid content type"},
        {"TEXT/PLAIN", 200, "invalid content type"},
        {"text/html; charset=utf-8", 200, "invalid content type"},
        {" Text/Html ;charset=\"utf-8\"", 200, "invalid content type"},
        {"text/xml; charset=utf-8", 200, "no error"},
        {"application/soap+xml", 200, "no error"},
        {"text/html-ish", 200, "no error"},
        {"text/xml", 500, "no error"},  // faults come as status 500
        {"text/html; charset=utf-8", 500, "Internal Server Error (500) - '"},
        {"text/plain", 500, "Internal Server Error (500) - '"},
    };
    for (const auto& c : cases) {
        type = c.type;
        status = c.status;
        auto poster = CreatePoster(server.URL(), "", "", "", "");
        std::string reply;
        const std::string result = Expect([&] { poster->Execute(kAction, "x", reply); });
        EXPECT_EQ(result.rfind(c.result, 0), 0u) << c.type << " " << c.status << ": " << result;
        EXPECT_EQ(poster->LastStatus(), c.status);
    }
}

TEST_F(PosterTest, ChunkedAndCompressedRepliesAreReadWhole) {
    std::string big(300000, 'z');
    for (std::size_t i = 0; i < big.size(); i += 97) big[i] = static_cast<char>('0' + i % 10);
    server.Srv().Post("/chunked", [&](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider("text/xml", [&](size_t offset, httplib::DataSink& sink) {
            if (offset < big.size()) {
                sink.write(big.data() + offset, std::min<std::size_t>(7000, big.size() - offset));
            } else {
                sink.done();
            }
            return true;
        });
    });
    server.Srv().Post("/plain", [&](const httplib::Request& req, httplib::Response& res) {
        // The server compresses text/xml when the client offers an encoding: gzip or deflate,
        // never brotli, whose compression costs a server far more than it saves.
        const std::string offered = req.get_header_value("Accept-Encoding");
        EXPECT_NE(offered.find("gzip"), std::string::npos);
        EXPECT_EQ(offered.find("br"), std::string::npos);
        res.set_content(big, "text/xml");
    });
    server.Start();
    auto poster = CreatePoster(server.URL("/chunked"), "", "", "", "");
    std::string reply;
    poster->Execute(kAction, "x", reply);
    EXPECT_EQ(reply, big);
    poster->SetURL(server.URL("/plain"));
    reply.clear();
    poster->Execute(kAction, "x", reply);
    EXPECT_EQ(reply, big);
}

TEST_F(PosterTest, CompressionOffOffersNoEncoding) {
    std::string offered = "unset";
    server.Srv().Post("/enc", [&](const httplib::Request& req, httplib::Response& res) {
        offered = req.has_header("Accept-Encoding") ? req.get_header_value("Accept-Encoding") : "";
        res.set_content("<x/>", "text/xml");
    });
    server.Start();
    for (bool on : {true, false, true}) {
        THTTPPostSettings s;
        s.URL = server.URL("/enc");
        s.Compression = on;
        auto poster = CreatePoster(s);
        std::string reply;
        poster->Execute(kAction, "x", reply);
        EXPECT_EQ(offered.find("gzip") != std::string::npos, on) << offered;
        EXPECT_EQ(reply, "<x/>");
    }
}

TEST_F(PosterTest, GzipAndDeflateEncodedRepliesAreDecoded) {
    const std::string body = std::string(5000, 'q') + "<end/>";
    for (auto [encoding, bits] : {std::pair{"gzip", 15 + 16}, std::pair{"deflate", 15}}) {
        const std::string packed = test::Deflated(body, bits);
        RawServer raw([&, enc = std::string(encoding)](int fd) {
            while (!test::ReadRequest(fd).empty())
                test::SendAll(
                    fd, "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Encoding: " + enc +
                            "\r\nContent-Length: " + std::to_string(packed.size()) + "\r\n\r\n" +
                            packed);
        });
        std::string reply;
        PostOnce(raw.URL(), "", "", "", "", kAction, "x", reply);
        EXPECT_EQ(reply, body) << encoding;
    }
}

TEST_F(PosterTest, ReplyOverTheCapIsAnErrorNotAnAllocation) {
    const std::size_t cap = TVelqorCurlPost::kMaxResponseBytes;
    const std::string block(1 << 20, 'b');
    server.Srv().Post("/", [&](const httplib::Request&, httplib::Response& res) {
        res.set_chunked_content_provider(
            "application/octet-stream",
            [&, sent = std::size_t{0}](size_t, httplib::DataSink& sink) mutable {
                if (sent > cap + block.size()) {
                    sink.done();
                    return true;
                }
                sent += block.size();
                return sink.write(block.data(), block.size());
            });
    });
    server.Start();
    RawServer announced([&](int fd) {
        test::ReadRequest(fd);
        test::SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                              std::to_string(cap + 1) + "\r\n\r\n");
        test::WaitForClose(fd);
    });
    for (const std::string& url : {server.URL(), announced.URL()}) {
        auto poster = CreatePoster(url, "", "", "", "");
        std::string reply;
        const std::string error = Expect([&] { poster->Execute(kAction, "x", reply); });
        EXPECT_EQ(error,
                  "response larger than 67108864 bytes - URL:" + url + " - SOAPAction:" + kAction);
        EXPECT_LE(reply.size(), cap);
        EXPECT_FALSE(poster->Connected());
    }
}

TEST_F(PosterTest, TransportFailuresNameURLAndAction) {
    int port;
    {
        RawServer closed([](int) {});
        port = closed.Port();
    }
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/da";
    std::string reply;
    const std::string error = Expect([&] { PostOnce(url, "", "", "", "", "act", "x", reply); });
    EXPECT_NE(error.find("onnect"), std::string::npos) << error;  // libcurl's own words
    const std::string tail = " - URL:" + url + " - SOAPAction:act";
    ASSERT_GT(error.size(), tail.size());
    EXPECT_EQ(error.substr(error.size() - tail.size()), tail);
}

TEST_F(PosterTest, ReplyCutOffMidBodyIsAnError) {
    RawServer raw([](int fd) {
        test::ReadRequest(fd);
        test::SendAll(fd,
                      "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 1000\r\n\r\n"
                      "<Envelope>");
        ::shutdown(fd, SHUT_RDWR);
    });
    auto poster = CreatePoster(raw.URL(), "", "", "", "");
    std::string reply;
    const std::string error = Expect([&] { poster->Execute("act", "x", reply); });
    EXPECT_NE(error.find(" - URL:" + raw.URL() + " - SOAPAction:act"), std::string::npos) << error;
    EXPECT_NE(error, "no error");
    EXPECT_FALSE(poster->Connected());
}

// --------------------------------------------------------------------------------- keep-alive

TEST_F(PosterTest, ConsecutivePostsShareOneConnection) {
    StartEcho();
    auto poster = CreatePoster(server.URL(), "", "", "", "");
    std::string reply;
    for (int i = 0; i < 5; ++i) poster->Execute(kAction, "x", reply);
    EXPECT_EQ(Requests(), 5);
    EXPECT_EQ(server.Connections(), 1u);
    EXPECT_TRUE(poster->Connected());
}

TEST_F(PosterTest, FailureAndChangedSettingsReconnect) {
    server.Srv().Post("/ok", [&](const httplib::Request& req, httplib::Response& res) {
        server.NoteConnection(req);
        res.set_content("<ok/>", "text/xml");
    });
    server.Srv().Post("/bad", [&](const httplib::Request& req, httplib::Response& res) {
        server.NoteConnection(req);
        res.status = 400;
    });
    server.Start();
    auto poster = CreatePoster(server.URL("/ok"), "", "", "", "secret");
    std::string reply;
    poster->Execute(kAction, "x", reply);
    poster->SetPassword("secret");  // same text: stays connected
    EXPECT_TRUE(poster->Connected());
    poster->Execute(kAction, "x", reply);
    EXPECT_EQ(server.Connections(), 1u);

    poster->SetPassword("other");  // changed: disconnects
    EXPECT_FALSE(poster->Connected());
    poster->Execute(kAction, "x", reply);
    EXPECT_EQ(server.Connections(), 2u);

    poster->SetURL(server.URL("/bad"));
    EXPECT_NE(Expect([&] { poster->Execute(kAction, "x", reply); }), "no error");
    EXPECT_FALSE(poster->Connected());
    poster->SetURL(server.URL("/ok"));
    poster->Execute(kAction, "x", reply);
    EXPECT_EQ(server.Connections(), 4u);
}

TEST_F(PosterTest, ServerClosingIdleConnectionsIsHarmless) {
    server.Srv().set_keep_alive_max_count(1);  // the server closes after every reply
    StartEcho();
    auto poster = CreatePoster(server.URL(), "", "", "", "");
    std::string reply;
    for (int i = 0; i < 4; ++i) {
        reply.clear();
        poster->Execute(kAction, "x", reply);
        EXPECT_EQ(reply, kReply);
    }
    EXPECT_EQ(Requests(), 4);
}

TEST_F(PosterTest, PostOnceAppendsToTheResponseBuffer) {
    StartEcho();
    std::string reply = "kept:";
    PostOnce(server.URL(), "", "", "", "anything", kAction, "x", reply);
    EXPECT_EQ(reply, "kept:" + kReply);
    THTTPPostSettings settings;
    settings.URL = server.URL();
    reply.clear();
    PostOnce(settings, kAction, "y", reply);
    EXPECT_EQ(reply, kReply);
    EXPECT_EQ(Last().body, "y");
}

}  // namespace
}  // namespace velqor
