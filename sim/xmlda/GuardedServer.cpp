#include "xmlda/GuardedServer.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace velqor::xmldasim {
namespace {

using Clock = std::chrono::steady_clock;

// One connection's socket as the library reads and writes it, with a deadline and a byte cap for
// each phase of a request. Any failure (deadline, cap, peer gone) spoils the connection: it closes
// after the current answer.
class GuardedStream final : public httplib::Stream {
  public:
    GuardedStream(socket_t sock, const ConnectionLimits& limits) : sock_(sock), limits_(limits) {}

    // Waits for the next request of a kept-alive connection; false when none came in time.
    bool awaitRequest() {
        return pos_ < len_ || waitFor(POLLIN, Clock::now() + limits_.idleTimeout);
    }
    void beginHead() {
        phase_ = Phase::Head;
        used_ = 0;
        cap_ = limits_.maxHeadBytes;
        readDeadline_ = Clock::now() + limits_.headTimeout;
        writing_ = false;
    }
    void beginBody() {
        phase_ = Phase::Body;
        used_ = 0;
        cap_ = 2 * limits_.maxBodyBytes + 64 * 1024;  // chunk framing of small chunks
        readDeadline_ = Clock::now() + limits_.bodyTimeout;
    }
    // The reply's write time starts with its first byte, not with a "100 Continue" before the body.
    void beginReply() { writing_ = false; }
    void closeAfterReply() { spoiled_ = true; }
    bool spoiled() const { return spoiled_; }
    bool limitHit() const { return limitHit_; }
    bool timedOut() const { return timedOut_; }
    bool inHead() const { return phase_ == Phase::Head; }
    bool sawBytes() const { return used_ > 0; }
    bool peerClosed() const { return eof_; }
    bool writeFailed() const { return writeFailed_; }

    bool is_readable() const override { return pos_ < len_ || waitFor(POLLIN, readDeadline_); }
    bool is_writable() const override {
        startWriting();
        return waitFor(POLLOUT, writeDeadline_);
    }

    ssize_t read(char* ptr, std::size_t size) override {
        if (used_ >= cap_) {
            limitHit_ = spoiled_ = true;
            return -1;
        }
        if (pos_ == len_ && !fill()) return eof_ && !spoiled_ ? 0 : -1;
        const std::size_t n = std::min({size, len_ - pos_, cap_ - used_});
        std::copy_n(buf_ + pos_, n, ptr);
        pos_ += n;
        used_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char* ptr, std::size_t size) override {
        startWriting();
        for (;;) {
            if (!waitFor(POLLOUT, writeDeadline_)) {
                writeFailed_ = true;
                return -1;
            }
            const ssize_t n = ::send(sock_, ptr, size, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n >= 0) return n;
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                writeFailed_ = spoiled_ = true;
                return -1;
            }
        }
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        address(::getpeername, ip, port);
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        address(::getsockname, ip, port);
    }
    socket_t socket() const override { return sock_; }

  private:
    enum class Phase { Idle, Head, Body };

    void startWriting() const {
        if (writing_) return;
        writing_ = true;
        writeDeadline_ = Clock::now() + limits_.writeTimeout;
    }

    // Waits until the socket is ready for events or the deadline passes (then marks a time-out).
    bool waitFor(short events, Clock::time_point deadline) const {
        for (;;) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                timedOut_ = spoiled_ = true;
                return false;
            }
            pollfd p{sock_, events, 0};
            const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
            if (r > 0) return true;  // errors and hang-ups show in the recv or send that follows
            if (r < 0 && errno != EINTR) {
                spoiled_ = true;
                return false;
            }
        }
    }

    bool fill() {
        pos_ = len_ = 0;
        for (;;) {
            if (!waitFor(POLLIN, readDeadline_)) return false;
            const ssize_t n = ::recv(sock_, buf_, sizeof buf_, MSG_DONTWAIT);
            if (n > 0) {
                len_ = static_cast<std::size_t>(n);
                return true;
            }
            if (n == 0) {
                eof_ = true;
                return false;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                spoiled_ = true;
                return false;
            }
        }
    }

    template <class Query>
    void address(Query query, std::string& ip, int& port) const {
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        char host[NI_MAXHOST], serv[NI_MAXSERV];
        if (query(sock_, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
            ::getnameinfo(reinterpret_cast<sockaddr*>(&a), len, host, sizeof host, serv,
                          sizeof serv, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
            return;
        ip = host;
        port = std::atoi(serv);
    }

    socket_t sock_;
    const ConnectionLimits& limits_;
    char buf_[4096];
    std::size_t pos_ = 0, len_ = 0;
    Phase phase_ = Phase::Idle;
    std::size_t used_ = 0, cap_ = 0;  // bytes of this phase consumed, and allowed
    Clock::time_point readDeadline_;
    mutable Clock::time_point writeDeadline_;
    mutable bool writing_ = false;
    mutable bool timedOut_ = false;
    mutable bool spoiled_ = false;
    bool limitHit_ = false;
    bool eof_ = false;
    bool writeFailed_ = false;
};

// The connection this worker thread is serving, for the body handler.
thread_local GuardedStream* current = nullptr;

// Answers a request that never got as far as the library's own answer.
void answerRaw(GuardedStream& s, const char* statusLine) {
    const std::string reply = std::string("HTTP/1.1 ") + statusLine +
                              "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
    s.write(reply.data(), reply.size());
}

// After an answer to a request whose rest was not read: stop sending, take what the client still
// sends for a short while, so that it sees the answer instead of a reset.
void lingeringClose(socket_t sock) {
    ::shutdown(sock, SHUT_WR);
    const auto end = Clock::now() + std::chrono::milliseconds(500);
    char sink[16 * 1024];
    std::size_t drained = 0;
    while (drained < 1024 * 1024) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        pollfd p{sock, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0) break;
        const ssize_t n = ::recv(sock, sink, sizeof sink, MSG_DONTWAIT);
        if (n <= 0) break;
        drained += static_cast<std::size_t>(n);
    }
}

}  // namespace

GuardedServer::GuardedServer(ConnectionLimits limits) : limits_(limits) {
    set_payload_max_length(limits_.maxBodyBytes);
    set_keep_alive_max_count(limits_.maxRequestsPerConnection);
}

void GuardedServer::postWithBody(const std::string& pattern, BodyHandler handler) {
    const std::size_t max = limits_.maxBodyBytes;
    Post(pattern, [this, max, handler = std::move(handler)](const httplib::Request& req,
                                                            httplib::Response& res,
                                                            const httplib::ContentReader& read) {
        std::string body;
        bool over = false;
        bool ok = false;
        if (!req.is_multipart_form_data()) {
            // The library hands over the body decoded (chunks joined, gzip/deflate/br inflated)
            // piece by piece; refusing a piece stops reading and inflating at once.
            ok = read([&](const char* data, std::size_t n) {
                if (n > max - body.size()) {
                    over = true;
                    return false;
                }
                body.append(data, n);
                return true;
            });
        }
        over = over || res.status == 413 || (current && current->limitHit() && !current->inHead());
        if (!ok || over) {
            if (current) current->closeAfterReply();
            res.set_header("Connection", "close");
            res.status = over ? 413 : 400;
            res.set_content(
                over ? "The request body is larger than " + std::to_string(max) + " bytes.\n"
                     : "The request body could not be read.\n",
                "text/plain");
            return;
        }
        // From here until its answer is written, stopping the server lets it answer first.
        if (current) {
            setHandling(current->socket(), true);
            current->beginReply();
        }
        handler(req, body, res);
    });
}

void GuardedServer::stopServing() {
    {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        for (const auto& [s, handling] : open_)
            if (!handling) ::shutdown(s, SHUT_RDWR);
        // The library stops writing replies once it is stopped: let those in hand go out first.
        answered_.wait(lock, [&] {
            return std::none_of(open_.begin(), open_.end(), [](const auto& c) { return c.second; });
        });
    }
    stop();
}

bool GuardedServer::track(socket_t sock) {
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
    open_[sock] = false;
    return true;
}

bool GuardedServer::setHandling(socket_t sock, bool handling) {
    {
        std::lock_guard lock(mutex_);
        open_[sock] = handling;
        if (handling || !stopping_) return !stopping_;
    }
    answered_.notify_all();
    return false;
}

void GuardedServer::untrack(socket_t sock) {
    {
        std::lock_guard lock(mutex_);
        open_.erase(sock);
    }
    answered_.notify_all();
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
    if (track(sock)) {
        GuardedStream strm(sock, limits_);
        current = &strm;
        // After an answer, a stopping server has shut nothing of this connection: it ends here.
        for (std::size_t n = 1; setHandling(sock, false) && strm.awaitRequest(); ++n) {
            strm.beginHead();
            bool closed = false;
            const bool last = n >= limits_.maxRequestsPerConnection;
            const bool answered =
                process_request(strm, last, closed, [&strm, this](httplib::Request& req) {
                    if (compressionAllowed_ && !compressionAllowed_())
                        req.headers.erase("Accept-Encoding");
                    strm.beginBody();
                });
            if (!answered && strm.inHead() && strm.sawBytes()) {
                if (strm.limitHit()) answerRaw(strm, "431 Request Header Fields Too Large");
                if (strm.timedOut()) answerRaw(strm, "408 Request Timeout");
            }
            if (!answered || closed || last || strm.spoiled()) break;
        }
        current = nullptr;
        if (strm.writeFailed()) {
            // A client that does not take its reply: drop the connection and what is queued for
            // it at once, rather than leave the system holding it for minutes.
            linger abort{1, 0};
            ::setsockopt(sock, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        } else if (strm.spoiled() && !strm.peerClosed()) {
            lingeringClose(sock);
        }
        untrack(sock);
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return true;
}

}  // namespace velqor::xmldasim
