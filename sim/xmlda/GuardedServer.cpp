#include "xmlda/GuardedServer.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <thread>
#include <utility>
#include <vector>

#include "xmlda/Sockets.h"

namespace velqor::xmldasim {
namespace {

using Clock = std::chrono::steady_clock;

// One connection's socket as the library reads and writes it, with a deadline and a byte cap for
// each phase of a request. Any failure (deadline, cap, peer gone) spoils the connection: it closes
// after the current answer.
class GuardedStream final : public httplib::Stream {
  public:
    GuardedStream(socket_t sock, const ConnectionLimits& limits) : sock_(sock), limits_(limits) {}

    // Waits for the first request of a connection (as long as for a request head) or the next
    // one of a kept-alive connection; false when none came in time.
    bool awaitRequest(bool first) {
        const auto wait = first ? limits_.headTimeout : limits_.idleTimeout;
        return pos_ < len_ || waitFor(POLLIN, Clock::now() + wait);
    }
    void beginHead() {
        phase_ = Phase::Head;
        used_ = 0;
        cap_ = limits_.maxHeadBytes;
        readDeadline_ = Clock::now() + limits_.headTimeout;
        writing_ = false;
    }
    // chunked: the body's chunk-size lines are checked as they pass (the library would take
    // "-10" for a size near 2^64 and wait for it).
    void beginBody(bool chunked) {
        phase_ = Phase::Body;
        chunk_ = chunked ? Chunk::Size : Chunk::Off;
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
    // The request's framing is not one: the body is not read, the answer is 400.
    void refuseFraming() { badFraming_ = spoiled_ = true; }
    bool framingRefused() const { return badFraming_; }

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
        if (badFraming_) return -1;
        if (pos_ == len_ && !fill()) return eof_ && !spoiled_ ? 0 : -1;
        const std::size_t n = std::min({size, len_ - pos_, cap_ - used_});
        if (!checkChunks(buf_ + pos_, n)) {
            refuseFraming();
            return -1;
        }
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
            const ssize_t n =
                ::send(sock_, ptr, static_cast<int>(std::min<std::size_t>(size, INT_MAX)),
                       sockets::kNoSignal | sockets::kDontWait);
            if (n >= 0) return n;
            if (!sockets::Transient()) {
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
    // Where a chunked body is: in a size line (its digits, then anything to the line's end),
    // in chunk data, or past the last chunk (trailers, not checked).
    enum class Chunk { Off, Size, SizeRest, Data, Done };

    // Follows the chunk framing over the next n bytes; false at a size line that does not
    // start with a hexadecimal digit.
    bool checkChunks(const char* p, std::size_t n) {
        for (std::size_t i = 0; i < n && chunk_ != Chunk::Off && chunk_ != Chunk::Done; ++i) {
            const char c = p[i];
            switch (chunk_) {
                case Chunk::Size:
                    if (!std::isxdigit(static_cast<unsigned char>(c))) {
                        if (!sawDigit_) return false;
                        chunk_ = Chunk::SizeRest;
                        --i;  // look at it again as the rest of the line
                        break;
                    }
                    sizeDigits_ += chunkLeft_ != 0 || c != '0';  // leading zeros are free
                    chunkLeft_ = chunkLeft_ * 16 +
                                 unsigned(c <= '9' ? c - '0' : (std::tolower(c) - 'a' + 10));
                    if (sizeDigits_ > 15) return false;  // no real chunk is that big
                    sawDigit_ = true;
                    break;
                case Chunk::SizeRest:
                    if (c != '\n') break;
                    // the data with its CR LF, or the end
                    chunk_ = chunkLeft_ == 0 ? Chunk::Done : Chunk::Data;
                    chunkLeft_ += 2;
                    sizeDigits_ = 0;
                    sawDigit_ = false;
                    break;
                case Chunk::Data:
                    if (--chunkLeft_ == 0) chunk_ = Chunk::Size;
                    break;
                default:
                    break;
            }
        }
        return true;
    }

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
            const int r =
                sockets::Poll(&p, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
            if (r > 0) return true;  // errors and hang-ups show in the recv or send that follows
            if (r < 0 && !sockets::Interrupted()) {
                spoiled_ = true;
                return false;
            }
        }
    }

    bool fill() {
        pos_ = len_ = 0;
        for (;;) {
            if (!waitFor(POLLIN, readDeadline_)) return false;
            const ssize_t n = ::recv(sock_, buf_, sizeof buf_, sockets::kDontWait);
            if (n > 0) {
                len_ = static_cast<std::size_t>(n);
                return true;
            }
            if (n == 0) {
                eof_ = true;
                return false;
            }
            if (!sockets::Transient()) {
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
    bool badFraming_ = false;
    Chunk chunk_ = Chunk::Off;
    std::size_t sizeDigits_ = 0;  // significant digits of the size line
    bool sawDigit_ = false;
    unsigned long long chunkLeft_ = 0;
    bool eof_ = false;
    bool writeFailed_ = false;
};

// The connection this worker thread is serving, for the body handler.
thread_local GuardedStream* current = nullptr;

bool IsChunked(const httplib::Request& req) {
    std::string te = req.get_header_value("Transfer-Encoding");
    std::transform(te.begin(), te.end(), te.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return te.find("chunked") != std::string::npos;
}

// Whether every Content-Length is a decimal size that fits (the library would read "-1" or
// "18446744073709551616" as a size near 2^64 and skip that much before answering).
bool FramingUsable(const httplib::Request& req) {
    const auto [first, last] = req.headers.equal_range("Content-Length");
    for (auto it = first; it != last; ++it) {
        const std::string& v = it->second;
        if (v.empty() || v.size() > 18 ||
            !std::all_of(v.begin(), v.end(), [](unsigned char c) { return std::isdigit(c); }))
            return false;
    }
    return true;
}

// Answers a request that never got as far as the library's own answer.
void answerRaw(GuardedStream& s, const char* statusLine) {
    const std::string reply = std::string("HTTP/1.1 ") + statusLine +
                              "\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
    s.write(reply.data(), reply.size());
}

// After an answer to a request whose rest was not read: stop sending, take what the client still
// sends for a short while, so that it sees the answer instead of a reset.
void lingeringClose(socket_t sock) {
    ::shutdown(sock, sockets::kShutWrite);
    const auto end = Clock::now() + std::chrono::milliseconds(500);
    char sink[16 * 1024];
    std::size_t drained = 0;
    while (drained < 1024 * 1024) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        pollfd p{sock, POLLIN, 0};
        if (left <= 0 || sockets::Poll(&p, 1, static_cast<int>(left)) <= 0) break;
        const ssize_t n = ::recv(sock, sink, sizeof sink, sockets::kDontWait);
        if (n <= 0) break;
        drained += static_cast<std::size_t>(n);
    }
}

// The worker pool. While connections wait for a worker, the server is asked now and then to
// make room for them (connections that start from the queue may be slow ones too).
class GuardedQueue final : public httplib::TaskQueue {
  public:
    GuardedQueue(GuardedServer& server, std::size_t workers)
        : server_(server), pool_(workers), watcher_([this] { watch(); }) {}
    ~GuardedQueue() override { stopWatching(); }
    void enqueue(std::function<void()> fn) override {
        server_.makeRoom(queued_.fetch_add(1) + 1);
        pool_.enqueue([this, fn = std::move(fn)] {
            queued_.fetch_sub(1);
            fn();
        });
    }
    void shutdown() override {
        stopWatching();
        pool_.shutdown();
    }

  private:
    void watch() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            wake_.wait_for(lock, std::chrono::milliseconds(100));
            if (const std::size_t waiting = queued_.load(); waiting > 0 && !stop_)
                server_.makeRoom(waiting);
        }
    }
    void stopWatching() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (watcher_.joinable()) watcher_.join();
    }

    GuardedServer& server_;
    std::atomic<std::size_t> queued_{0};
    httplib::ThreadPool pool_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread watcher_;  // last: started once the rest is built
};

constexpr int kListenBacklog = 1024;

}  // namespace

GuardedServer::GuardedServer(ConnectionLimits limits, std::size_t workers)
    : limits_(limits), workers_(std::max<std::size_t>(workers, 1)) {
    set_payload_max_length(limits_.maxBodyBytes);
    set_keep_alive_max_count(limits_.maxRequestsPerConnection);
    new_task_queue = [this] { return new GuardedQueue(*this, workers_); };
    // A port another server listens on is refused (the library's SO_REUSEPORT would share it).
    set_socket_options([this](socket_t sock) {
        sockets::RefuseTakenPort(sock);
        listening_ = sock;
    });
}

int GuardedServer::bindListening(const std::string& host, int port) {
    const int bound =
        port > 0 ? (bind_to_port(host.c_str(), port) ? port : -1) : bind_to_any_port(host.c_str());
    // The library listens with a backlog of 5; listening again on Linux sets a larger one.
    if (bound > 0) ::listen(listening_, kListenBacklog);
    return bound > 0 ? bound : -1;
}

void GuardedServer::makeRoom(std::size_t waiting) {
    std::lock_guard lock(mutex_);
    std::size_t busy = 0;
    std::vector<std::pair<Clock::time_point, socket_t>> readers;
    // A request that has only just begun is left alone.
    const auto startedBefore = Clock::now() - std::chrono::milliseconds(500);
    for (const auto& [s, c] : open_) {
        if (c.cut) continue;
        ++busy;
        if (!c.handling && c.since < startedBefore) readers.push_back({c.since, s});
    }
    if (busy + waiting <= workers_) return;
    std::sort(readers.begin(), readers.end());
    const std::size_t over = std::min(busy + waiting - workers_, readers.size());
    for (std::size_t i = 0; i < over; ++i) {
        open_[readers[i].second].cut = true;
        ::shutdown(readers[i].second, sockets::kShutBoth);
    }
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
        if (current && current->framingRefused()) ok = over = false;
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
        for (const auto& [s, c] : open_)
            if (!c.handling) ::shutdown(s, sockets::kShutBoth);
        // The library stops writing replies once it is stopped: let those in hand go out first.
        answered_.wait(lock, [&] {
            return std::none_of(open_.begin(), open_.end(),
                                [](const auto& c) { return c.second.handling; });
        });
    }
    stop();
}

bool GuardedServer::track(socket_t sock) {
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
    open_[sock] = {false, false, Clock::now()};
    return true;
}

bool GuardedServer::setHandling(socket_t sock, bool handling) {
    {
        std::lock_guard lock(mutex_);
        Connection& c = open_[sock];
        if (!handling && c.handling) c.since = Clock::now();
        c.handling = handling;
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
        for (std::size_t n = 1; setHandling(sock, false); ++n) {
            if (!strm.awaitRequest(n == 1)) {
                // A fresh connection that never asks is told why it is closed; a kept-alive
                // one that asks nothing more is just closed.
                if (n == 1 && strm.timedOut()) answerRaw(strm, "408 Request Timeout");
                break;
            }
            strm.beginHead();
            bool closed = false;
            const bool last = n >= limits_.maxRequestsPerConnection;
            const bool answered =
                process_request(strm, last, closed, [&strm, this](httplib::Request& req) {
                    if (compressionAllowed_ && !compressionAllowed_())
                        req.headers.erase("Accept-Encoding");
                    strm.beginBody(IsChunked(req));
                    if (!FramingUsable(req)) {
                        // Read no body; the handler (or the library's own answer) says 400.
                        strm.refuseFraming();
                        req.headers.erase("Transfer-Encoding");
                        req.headers.erase("Content-Length");
                        req.headers.emplace("Content-Length", "0");
                    }
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
            sockets::AbortOnClose(sock);
        } else if (strm.spoiled() && !strm.peerClosed()) {
            lingeringClose(sock);
        }
        untrack(sock);
    }
    ::shutdown(sock, sockets::kShutBoth);
    sockets::Close(sock);
    return true;
}

}  // namespace velqor::xmldasim
