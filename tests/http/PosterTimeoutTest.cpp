// Time-outs against servers that go silent, stopping an exchange from another thread, and
// posters used side by side on their own threads.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include "LoopbackServers.h"
#include "contract/CallCancel.h"
#include "contract/VelqorError.h"
#include "http/VelqorSOAPPoster.h"
#include "support/WaitUntil.h"

namespace velqor {
namespace {

using test::RawServer;

class PosterTimeoutTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { test::ClearProxyEnvironment(); }
    void SetUp() override { SetCredentialsProvider({}); }
};

std::string Outcome(THTTPPost& poster, std::string_view body = "<x/>") {
    std::string reply;
    try {
        poster.Execute("act", body, reply);
    } catch (const EAbort&) {
        return "EAbort";
    } catch (const Exception& e) {
        return e.what();
    }
    return "ok:" + reply;
}

// Accepts, reads the request (counting it in read when given), never answers.
RawServer::Handler Silent(std::atomic<int>* read = nullptr) {
    return [read](int fd) {
        test::ReadRequest(fd);
        if (read) ++*read;
        test::WaitForClose(fd);
    };
}

// Answers every request on the connection.
RawServer::Handler Answering() {
    return [](int fd) {
        while (!test::ReadRequest(fd).empty())
            test::SendAll(
                fd, "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 5\r\n\r\n<ok/>");
    };
}

TEST_F(PosterTimeoutTest, SilentServerEndsWithReceiveTimeout) {
    RawServer silent(Silent());
    auto poster = CreatePoster(silent.URL(), "", "", "", "");
    poster->SetReceiveTimeout(300);
    const std::string out = Outcome(*poster);
    EXPECT_EQ(out, "Receive timeout: no reply data within 300 ms - URL:" + silent.URL() +
                       " - SOAPAction:act");
    EXPECT_FALSE(poster->Connected());
}

TEST_F(PosterTimeoutTest, ServerThatNeverReadsEndsWithSendTimeout) {
    std::atomic<bool> done{false};
    RawServer deaf([&](int) {  // never reads
        test::WaitUntil([&] { return done.load(); }, std::chrono::seconds(60));
    });
    auto poster = CreatePoster(deaf.URL(), "", "", "", "");
    poster->SetSendTimeout(300);
    // Far more than the loopback socket buffers hold, so the upload stalls.
    const std::string body(48u << 20, 'x');
    EXPECT_EQ(Outcome(*poster, body),
              "Send timeout: the request was not sent within 300 ms - URL:" + deaf.URL() +
                  " - SOAPAction:act");
    done.store(true);
}

TEST_F(PosterTimeoutTest, ServerThatNeverAcceptsEndsWithConnectTimeout) {
    // A backlog-0 listener that never accepts; once its queue is full, further connects hang.
    RawServer full([](int) {}, /*accept=*/false);
    std::vector<int> fillers;
    for (int i = 0; i < 4; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(full.Port()));
        ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        fillers.push_back(fd);
    }
    // The first connect fills the queue once its handshake is done.
    pollfd first{fillers.front(), POLLOUT, 0};
    ASSERT_EQ(::poll(&first, 1, 10000), 1);
    auto poster = CreatePoster(full.URL(), "", "", "", "");
    poster->SetConnectTimeout(300);
    const std::string out = Outcome(*poster);
    for (int fd : fillers) ::close(fd);
    // libcurl words it by the stage the time-out hit: "Failed to connect ... Timeout was
    // reached" or "Connection timeout after 300 ms"; either is its own connect time-out text.
    std::string lower = out;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    EXPECT_TRUE(lower.rfind("failed to connect", 0) == 0 ||
                lower.rfind("connection timeout", 0) == 0)
        << out;
    EXPECT_NE(lower.find("timeout"), std::string::npos) << out;
    EXPECT_NE(out.find(" - URL:" + full.URL() + " - SOAPAction:act"), std::string::npos) << out;
}

TEST_F(PosterTimeoutTest, TricklingServerEndsWithTheTotalTimeout) {
    // One body byte every 50 ms: never silent long enough for the receive time-out.
    RawServer trickling([](int fd) {
        test::ReadRequest(fd);
        bool open = test::SendAll(
            fd, "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 100000\r\n\r\n");
        while (open) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            open = test::SendAll(fd, " ");
        }
    });
    THTTPPostSettings settings;
    settings.URL = trickling.URL();
    settings.ReceiveTimeout = 300;
    settings.TotalTimeout = 600;
    auto poster = CreatePoster(settings);
    EXPECT_EQ(Outcome(*poster), "Timeout: the exchange did not complete within 600 ms - URL:" +
                                    trickling.URL() + " - SOAPAction:act");
    EXPECT_FALSE(poster->Connected());
}

TEST_F(PosterTimeoutTest, AbortFromAnotherThreadStopsTheExchange) {
    std::atomic<int> read{0};
    RawServer silent(Silent(&read));
    auto poster = CreatePoster(silent.URL(), "", "", "", "");  // default receive time-out: minutes
    std::string out;
    std::thread poster_thread([&] { out = Outcome(*poster); });
    // Aborts while the poster waits for the reply to a request sent whole.
    EXPECT_TRUE(test::WaitUntil([&] { return read.load() > 0; }));
    poster->Abort();
    poster_thread.join();
    EXPECT_EQ(out, "EAbort");
    EXPECT_FALSE(poster->Connected());
}

TEST_F(PosterTimeoutTest, AbortStaysUntilReset) {
    RawServer answering(Answering());
    auto poster = CreatePoster(answering.URL(), "", "", "", "");
    poster->Abort();
    EXPECT_EQ(Outcome(*poster), "EAbort");
    EXPECT_EQ(answering.Accepted(), 0);  // stopped before connecting
    poster->ResetAbort();
    EXPECT_EQ(Outcome(*poster), "ok:<ok/>");
}

TEST_F(PosterTimeoutTest, CancelledScopeStopsOnlyItsOwnThreadsExchanges) {
    std::atomic<int> read{0};
    RawServer silent(Silent(&read));
    auto mine = CreatePoster(silent.URL(), "", "", "", "");
    auto other = CreatePoster(silent.URL(), "", "", "", "");
    std::string mineOut, otherOut, afterOut;
    std::atomic<bool> otherDone{false};
    CallCancelScope* scope = nullptr;
    std::atomic<bool> scopeReady{false};
    std::thread otherThread([&] {
        otherOut = Outcome(*other);
        otherDone = true;
    });
    std::thread mineThread([&] {
        CallCancelScope s;
        scope = &s;
        scopeReady = true;
        mineOut = Outcome(*mine);
        afterOut = Outcome(*mine);  // a later exchange in the cancelled scope stops at once
    });
    ASSERT_TRUE(test::WaitUntil([&] { return read.load() == 2 && scopeReady.load(); }));
    scope->Cancel();
    mineThread.join();
    EXPECT_EQ(mineOut, "EAbort");
    EXPECT_EQ(afterOut, "EAbort");
    EXPECT_EQ(read.load(), 2);       // the second exchange never reached the server
    EXPECT_FALSE(otherDone.load());  // the other thread's exchange still waits for its reply
    other->Abort();
    otherThread.join();
    EXPECT_EQ(otherOut, "EAbort");
}

TEST_F(PosterTimeoutTest, AbortsArrivingAtAnyMomentLeaveThePosterUsable) {
    RawServer answering(Answering());
    auto poster = CreatePoster(answering.URL(), "", "", "", "");
    std::atomic<bool> done{false};
    std::thread aborter([&] {
        while (!done.load()) {
            poster->Abort();
            // Paces the aborts so that they fall at every stage of the exchanges; nothing to
            // wait for.
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });
    int ok = 0, aborted = 0;
    for (int n = 0; n < 300; ++n) {
        const std::string out = Outcome(*poster);
        if (out == "ok:<ok/>")
            ++ok;
        else if (out == "EAbort")
            ++aborted;
        else
            ADD_FAILURE() << out;
        poster->ResetAbort();
    }
    done.store(true);
    aborter.join();
    EXPECT_GT(aborted, 0);
    poster->ResetAbort();
    EXPECT_EQ(Outcome(*poster), "ok:<ok/>");
}

TEST_F(PosterTimeoutTest, PostersOnSeveralThreadsWorkIndependently) {
    RawServer answering(Answering());
    SetCredentialsProvider(
        [](const TCredentialsRequest&) { return std::optional<TCredentials>(); });
    constexpr int kThreads = 4, kPosts = 25;
    std::vector<int> ok(kThreads, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            THTTPPostSettings settings;
            settings.URL = answering.URL("/t" + std::to_string(i));
            auto poster = CreatePoster(settings);
            for (int n = 0; n < kPosts; ++n)
                if (Outcome(*poster) == "ok:<ok/>") ++ok[i];
        });
    for (auto& t : threads) t.join();
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(ok[i], kPosts);
    EXPECT_EQ(answering.Accepted(), kThreads);  // one kept-alive connection per poster
}

TEST_F(PosterTimeoutTest, ProviderCanBeReplacedWhilePostersRun) {
    RawServer answering(Answering());
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        for (int i = 0; !stop.load(); ++i) {
            SetCredentialsProvider([i](const TCredentialsRequest&) {
                return std::optional<TCredentials>(TCredentials{std::to_string(i), ""});
            });
            (void)GetCredentialsProvider();
        }
    });
    auto poster = CreatePoster(answering.URL(), "", "", "", "");
    for (int n = 0; n < 20; ++n) EXPECT_EQ(Outcome(*poster), "ok:<ok/>");
    stop.store(true);
    swapper.join();
    SetCredentialsProvider({});
}

}  // namespace
}  // namespace velqor
