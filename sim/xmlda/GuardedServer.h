// An HTTP server that a hostile or broken client cannot tie up: every connection reads its request
// head and body against deadlines and size caps, takes its reply within a deadline, and a request
// body is limited by its decoded size whatever its framing (chunked, gzip, deflate, br).
//
// cpp-httplib serves each connection on one worker and waits per read and per write only, so a
// client trickling a byte at a time, a chunked or compressed body that grows without end, or a
// request line without an end would hold a worker or memory for as long as the client likes.
// This server keeps the library's request parsing and routing and runs each connection itself.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string_view>

namespace velqor::xmldasim {

struct ConnectionLimits {
    std::chrono::milliseconds headTimeout{10000};   // request line and headers, from the first byte
    std::chrono::milliseconds bodyTimeout{60000};   // the whole body, once the headers are in
    std::chrono::milliseconds writeTimeout{30000};  // the whole reply, from its first byte
    std::chrono::milliseconds idleTimeout{2000};    // a kept-alive connection waiting for a request
    std::size_t maxHeadBytes = 64 * 1024;
    std::size_t maxBodyBytes = 4 * 1024 * 1024;  // decoded; the raw framing may take twice that
    std::size_t maxRequestsPerConnection = 1000;
};

// Connections are served by a fixed number of workers. While connections wait for one, those
// that have been reading a request (or waiting for the next one) the longest, for half a second
// at least, are cut off to make room, so that clients that trickle their requests cannot hold
// every worker until their deadlines; connections in a handler (a held poll) are never cut.
class GuardedServer : public httplib::Server {
  public:
    // body: the decoded request body, complete and within the limit.
    using BodyHandler =
        std::function<void(const httplib::Request&, std::string_view body, httplib::Response&)>;

    GuardedServer(ConnectionLimits limits, std::size_t workers);

    // Binds host:port, refusing a port that another socket already listens on (no SO_REUSEPORT
    // sharing), and listens with a backlog that a burst of clients does not overflow. Returns
    // the port (the one chosen for port 0), or -1.
    int bindListening(const std::string& host, int port);

    // Serves POST requests to pattern; bodies over the limit get 413, broken ones 400, and in
    // both cases the connection closes after the answer.
    void postWithBody(const std::string& pattern, BodyHandler handler);

    // Stops accepting and ends every connection that is not in a handler at once; one in a
    // handler sends its answer first (within the write time-out). The listening thread then
    // returns.
    void stopServing();

    // Asked before each request is routed: when it says no, the request's Accept-Encoding is
    // dropped, so that no reply is compressed. Set before the server starts.
    void setCompressionAllowed(std::function<bool()> allowed) {
        compressionAllowed_ = std::move(allowed);
    }

    // While connections wait for a worker (waiting of them): cuts off the longest-reading
    // connections that leave none for them. Any thread.
    void makeRoom(std::size_t waiting);

  private:
    struct Connection {
        bool handling = false;  // in a handler: never cut off
        bool cut = false;
        std::chrono::steady_clock::time_point since;  // reading since
    };

    bool process_and_close_socket(socket_t sock) override;
    bool track(socket_t sock);
    void untrack(socket_t sock);
    // Marks a connection as in a handler or not; false when the server is stopping.
    bool setHandling(socket_t sock, bool handling);

    ConnectionLimits limits_;
    std::size_t workers_;
    socket_t listening_ = INVALID_SOCKET;
    std::function<bool()> compressionAllowed_;
    std::mutex mutex_;                     // guards the fields below
    std::map<socket_t, Connection> open_;  // open connections
    bool stopping_ = false;
    std::condition_variable answered_;  // a connection left its handler
};

}  // namespace velqor::xmldasim
