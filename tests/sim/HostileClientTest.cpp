// Hostile clients against the service: bodies past the limit in any framing, heads without end,
// slow, silent and non-reading connections, subscriptions left behind, deadbands out of range.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <thread>

#include "SimClient.h"
#include "support/Deflate.h"
#include "support/WaitUntil.h"

using namespace simtest;
using velqor::test::Deflated;
using velqor::test::WaitUntil;

namespace {

const std::string kStatus = envelope("GetStatus", "ClientRequestHandle=\"h\"");
constexpr int kBoundMs = 30000;  // ends a test that would otherwise hang

// A plain TCP connection to the service, for requests no HTTP library would send.
class RawConn {
  public:
    explicit RawConn(int port, int rcvBuf = 0) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        if (rcvBuf > 0) ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvBuf, sizeof rcvBuf);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawConn() { ::close(fd_); }
    bool ok() const { return ok_; }

    // Sends head, then the pieces next() gives while the service takes them, until it answers,
    // stops taking or next() has no more. Returns the answer's status (0: none).
    int exchange(const std::string& head, const std::function<bool(std::string&)>& next) {
        std::string pending = head;
        bool more = true;
        for (;;) {
            pollfd p{fd_, static_cast<short>(POLLIN | (pending.empty() && !more ? 0 : POLLOUT)), 0};
            if (::poll(&p, 1, kBoundMs) <= 0 || (p.revents & (POLLIN | POLLERR | POLLHUP))) break;
            if (pending.empty() && !(more = next(pending))) continue;
            const ssize_t n = ::send(fd_, pending.data(), pending.size(), MSG_NOSIGNAL);
            if (n < 0) break;
            pending.erase(0, static_cast<std::size_t>(n));
        }
        return status();
    }
    bool sendAll(const std::string& s) {
        return ::send(fd_, s.data(), s.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(s.size());
    }
    // Reads until the service closes the connection; the status of what came (0: nothing).
    int status() {
        std::string got;
        char buf[4096];
        pollfd p{fd_, POLLIN, 0};
        while (::poll(&p, 1, kBoundMs) > 0) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0) break;
            got.append(buf, static_cast<std::size_t>(n));
        }
        return got.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(got.c_str() + 9) : 0;
    }
    int fd() const { return fd_; }

  private:
    int fd_;
    bool ok_ = false;
};

std::string head(const std::string& path, const std::string& headers) {
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml\r\n" + headers +
           "\r\n";
}

std::string chunk(const std::string& data) {
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    return size + data + "\r\n";
}

// Gives `piece` until `total` bytes have gone (once when total is its size).
std::function<bool(std::string&)> repeat(std::string piece, std::size_t total) {
    auto sent = std::make_shared<std::size_t>(0);
    return [piece, total, sent](std::string& out) {
        if (*sent >= total) return false;
        out = piece;
        *sent += piece.size();
        return true;
    };
}

class SimHostile : public SimTest {
  protected:
    void SetUp() override {}
};

std::function<bool(std::string&)> once(const std::string& data) {
    return repeat(data, data.size());
}

}  // namespace

TEST_F(SimHostile, BodiesPastTheLimitAreRefusedWhateverTheFraming) {
    auto o = defaults();
    o.maxBodyBytes = 256 * 1024;
    start(o);
    const std::string path = sim->path();
    const std::size_t big = 16u << 20;  // 64 times the limit
    const std::string zeros(big, '\0');
    const std::string gzBomb = Deflated(zeros, 31), zBomb = Deflated(zeros, 15);
    std::string fine;  // a request within the limit, gzip-compressed, in chunks of 100 bytes
    const std::string gz = Deflated(kStatus, 31);
    for (std::size_t i = 0; i < gz.size(); i += 100) fine += chunk(gz.substr(i, 100));
    struct Case {
        const char* what;
        std::string head;
        std::function<bool(std::string&)> body;
        int status;
    } cases[] = {
        {"within the limit: gzip, chunked",
         head(path,
              "Connection: close\r\nContent-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n"),
         once(fine + "0\r\n\r\n"), 200},
        {"chunked", head(path, "Transfer-Encoding: chunked\r\n"),
         repeat(chunk(std::string(65536, ' ')), big), 413},
        {"one-byte chunks", head(path, "Transfer-Encoding: chunked\r\n"), repeat(chunk(" "), big),
         413},
        {"chunk size line without end", head(path, "Transfer-Encoding: chunked\r\n"),
         repeat(std::string(65536, '0'), big), 413},
        {"gzip bomb",
         head(path, "Content-Encoding: gzip\r\nContent-Length: " + std::to_string(gzBomb.size()) +
                        "\r\n"),
         once(gzBomb), 413},
        {"deflate bomb",
         head(path, "Content-Encoding: deflate\r\nContent-Length: " + std::to_string(zBomb.size()) +
                        "\r\n"),
         once(zBomb), 413},
        {"gzip bomb, chunked",
         head(path, "Content-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n"),
         once(chunk(gzBomb) + "0\r\n\r\n"), 413},
        {"length past the limit", head(path, "Content-Length: 1073741824\r\n"),
         repeat(std::string(65536, ' '), big), 413},
        {"request line without end", "POST /" + std::string(1000, 'a'),
         repeat(std::string(65536, 'a'), big), 431},
        {"headers without end", "POST " + path + " HTTP/1.1\r\n",
         repeat("X-Pad: " + std::string(100, 'p') + "\r\n", big), 400},  // the library's answer
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        RawConn conn(sim->port());
        ASSERT_TRUE(conn.ok());
        EXPECT_EQ(conn.exchange(c.head, c.body), c.status);
        EXPECT_EQ(post(url, kStatus).status, 200);
    }
}

TEST_F(SimHostile, SlowSilentAndNonReadingClientsCannotStarveTheWorkers) {
    // Two workers, short limits, and three attackers of one kind at a time that reconnect as
    // soon as they are cut off: a normal client must still be answered.
    auto o = defaults();
    o.threads = 2;
    o.headTimeoutMs = o.bodyTimeoutMs = o.writeTimeoutMs = o.idleTimeoutMs = 300;
    start(o);
    const std::string path = sim->path();
    const std::string bigReply = envelope(
        "Browse", "ItemName=\"Load\" ReturnAllProperties=\"true\" ReturnPropertyValues=\"true\"");
    const std::string bigRequest =
        head(path, "Content-Length: " + std::to_string(bigReply.size()) + "\r\n") + bigReply;
    enum class Kind { TrickleHead, TrickleBody, Silent, NeverRead, ReadTrickle };
    const struct {
        const char* what;
        Kind kind;
    } cases[] = {{"headers a byte at a time", Kind::TrickleHead},
                 {"body a byte at a time", Kind::TrickleBody},
                 {"connected and silent", Kind::Silent},
                 {"big reply never read", Kind::NeverRead},
                 {"big reply read a byte at a time", Kind::ReadTrickle}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::mutex m;
        std::condition_variable cv;
        bool stop = false;
        std::atomic<int> cutOff{0};
        // The attack's own pace: one step per 50 ms, ended at once by `stop`.
        auto step = [&] {
            std::unique_lock lock(m);
            return !cv.wait_for(lock, std::chrono::milliseconds(50), [&] { return stop; });
        };
        auto attack = [&] {
            while (step()) {
                RawConn conn(sim->port(), 4096);
                std::string text;
                switch (c.kind) {
                    case Kind::TrickleHead:
                        text = head(path, "X-Slow: 1\r\n");
                        break;
                    case Kind::TrickleBody:
                        conn.sendAll(head(path, "Content-Length: 100000\r\n"));
                        text = std::string(100000, ' ');
                        break;
                    case Kind::Silent:
                        break;
                    case Kind::NeverRead:
                    case Kind::ReadTrickle:
                        conn.sendAll(bigRequest);
                        break;
                }
                bool open = true;
                for (std::size_t i = 0; open && step(); ++i) {
                    if (c.kind == Kind::TrickleHead || c.kind == Kind::TrickleBody)
                        open = i < text.size() && ::send(conn.fd(), &text[i], 1, MSG_NOSIGNAL) == 1;
                    char byte;
                    if (c.kind == Kind::ReadTrickle) ::recv(conn.fd(), &byte, 1, MSG_DONTWAIT);
                    pollfd p{conn.fd(), POLLRDHUP, 0};
                    ::poll(&p, 1, 0);
                    if (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) open = false;
                }
                if (!open) ++cutOff;
            }
        };
        std::vector<std::thread> attackers;
        for (int i = 0; i < 3; ++i) attackers.emplace_back(attack);
        EXPECT_TRUE(WaitUntil([&] { return cutOff.load() > 0; }, std::chrono::seconds(30)));
        EXPECT_EQ(post(url, kStatus).status, 200);
        {
            std::lock_guard lock(m);
            stop = true;
        }
        cv.notify_all();
        for (auto& t : attackers) t.join();
    }
}

TEST_F(SimHostile, RepliesNotTakenAreBoundedInTotal) {
    auto o = defaults();
    o.replyBytesInTransit = 1024 * 1024;
    start(o);
    const std::string big = envelope("Browse", "ItemName=\"Load\" ReturnAllProperties=\"true\"");
    auto holder = std::make_unique<RawConn>(sim->port(), 4096);
    ASSERT_TRUE(holder->sendAll(
        head(sim->path(), "Content-Length: " + std::to_string(big.size()) + "\r\n") + big));
    pollfd p{holder->fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, kBoundMs), 1);  // its reply is on the way, and not taken
    Reply busy = post(url, big);
    EXPECT_EQ(busy.status, 503);
    EXPECT_EQ(busy.header("Retry-After"), "1");
    EXPECT_EQ(post(url, kStatus).status, 200);
    holder.reset();  // the holder goes away: its reply's bytes are released
    EXPECT_TRUE(WaitUntil([&] { return post(url, big).status == 200; }));
}

TEST_F(SimHostile, SubscriptionsWithoutPingRateExpire) {
    auto o = defaults();
    o.defaultPingRateMs = 100;
    start(o);
    Reply s = call("Subscribe", "",
                   "<ItemList><Items ItemName=\"Static/Int\" ClientItemHandle=\"i\"/></ItemList>");
    const std::string handle = s.str("//o:SubscribeResponse/@ServerSubHandle");
    ASSERT_FALSE(handle.empty());
    EXPECT_TRUE(WaitUntil([&] { return sim->subscriptionCount() == 0; }));
    Reply p = call("SubscriptionPolledRefresh", "",
                   "<ServerSubHandles>" + handle + "</ServerSubHandles>");
    EXPECT_EQ(p.str("//o:InvalidServerSubHandles"), handle);
}

TEST_F(SimHostile, LiveSubscriptionsAreCapped) {
    auto o = defaults();
    o.maxSubscriptions = 3;
    start(o);
    auto subscribe = [&] {
        return call("Subscribe", "SubscriptionPingRate=\"600000\"",
                    "<ItemList><Items ItemName=\"Static/Int\" ClientItemHandle=\"i\"/></ItemList>");
    };
    std::vector<std::string> handles;
    for (int i = 0; i < 3; ++i)
        handles.push_back(subscribe().str("//o:SubscribeResponse/@ServerSubHandle"));
    Reply full = subscribe();
    EXPECT_EQ(full.status, 500);
    EXPECT_EQ(full.str("//s:Fault/faultcode"), "opc:E_OUTOFMEMORY");
    EXPECT_NE(full.str("//s:Fault/faultstring").find("limit of 3"), std::string::npos);
    call("SubscriptionCancel", "ServerSubHandle=\"" + handles[0] + "\"");
    EXPECT_FALSE(subscribe().str("//o:SubscribeResponse/@ServerSubHandle").empty());
}

TEST_F(SimHostile, DeadbandsOutsideZeroToHundredAreRefused) {
    start(defaults());
    const struct {
        const char* deadband;
        bool refused;
    } cases[] = {{"NaN", true},   {"INF", true}, {"-INF", true}, {"-0.5", true},
                 {"100.5", true}, {"0", false},  {"100", false}, {"12.5", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.deadband);
        for (const bool onList : {true, false}) {
            const std::string db = std::string("Deadband=\"") + c.deadband + "\"";
            Reply r = call("Subscribe", "",
                           "<ItemList " + (onList ? db : "") +
                               "><Items ItemName=\"Plant/Area1/Tank1/Level\" "
                               "ClientItemHandle=\"l\" " +
                               (onList ? "" : db) + "/></ItemList>");
            EXPECT_EQ(r.str("//o:RItemList/o:Items/o:ItemValue/@ResultID"),
                      c.refused ? "E_RANGE" : "");
            EXPECT_EQ(r.str("//o:SubscribeResponse/@ServerSubHandle").empty(), c.refused);
        }
    }
}

TEST_F(SimHostile, ALengthOrChunkSizeThatIsNoSizeIsAnsweredWith400) {
    start(defaults());
    const std::string path = sim->path();
    const struct {
        const char* what;
        std::string head;
        std::string body;
    } cases[] = {
        {"negative length", head(path, "Content-Length: -1\r\n"), kStatus},
        {"length past 2^64", head(path, "Content-Length: 18446744073709551616\r\n"), kStatus},
        {"length with junk", head(path, "Content-Length: 12abc\r\n"), kStatus},
        {"negative chunk size", head(path, "Transfer-Encoding: chunked\r\n"),
         "-10\r\n" + kStatus + "\r\n0\r\n\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RawConn conn(sim->port());
        ASSERT_TRUE(conn.ok());
        EXPECT_EQ(conn.exchange(c.head, once(c.body)), 400);
        EXPECT_EQ(post(url, kStatus).status, 200);
    }
}

TEST_F(SimHostile, AFreshConnectionThatAsksNothingIsToldWhyItCloses) {
    auto o = defaults();
    o.headTimeoutMs = 300;
    o.idleTimeoutMs = 50;
    start(o);
    RawConn conn(sim->port());
    ASSERT_TRUE(conn.ok());
    EXPECT_EQ(conn.status(), 408);
}

// Slow clients holding every worker, with deadlines far away: a new client is still answered,
// because the longest-reading connections make room for it.
TEST_F(SimHostile, SlowRequestsCannotHoldEveryWorkerUntilTheirDeadlines) {
    auto o = defaults();
    o.threads = 4;
    o.headTimeoutMs = o.bodyTimeoutMs = 600000;
    start(o);
    std::vector<std::unique_ptr<RawConn>> slow;
    for (int i = 0; i < 12; ++i) {
        slow.push_back(std::make_unique<RawConn>(sim->port()));
        ASSERT_TRUE(slow.back()->sendAll(head(sim->path(), "Content-Length: 100000\r\n") + " "));
    }
    EXPECT_EQ(post(url, kStatus).status, 200);
}

TEST_F(SimHostile, APortAnotherServerListensOnIsRefused) {
    start(defaults());
    auto o = defaults();
    o.port = sim->port();
    velqor::xmldasim::Service second(o);
    try {
        second.start();
        ADD_FAILURE() << "a second service started on port " << o.port;
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("cannot listen on"), std::string::npos) << e.what();
    }
    EXPECT_EQ(post(url, kStatus).status, 200);
}
