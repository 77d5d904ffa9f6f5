// Real loopback peers for the poster tests: an httplib server (plain or TLS), a raw-socket
// server for replies httplib cannot produce (silence, cut-off bodies, hand-made encodings), a
// small forward proxy, and a test certificate authority.
#pragma once

#include <httplib.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace velqor::test {

// Clears proxy variables so that loopback requests go direct.
void ClearProxyEnvironment();

// An httplib server on 127.0.0.1 and a free port, serving from its own thread.
class HttpServer {
  public:
    HttpServer();                           // plain HTTP
    HttpServer(X509* cert, EVP_PKEY* key);  // HTTPS
    ~HttpServer();
    httplib::Server& Srv() { return *server_; }
    void Start();
    int Port() const { return port_; }
    std::string URL(const std::string& path = "/") const;

    // Counts the distinct client connections the handlers saw (by remote port).
    void NoteConnection(const httplib::Request& req);
    std::size_t Connections() const;

  private:
    std::unique_ptr<httplib::Server> server_;
    bool tls_ = false;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mu_;
    std::set<int> remotePorts_;
};

// A listening socket on 127.0.0.1 whose accepted connections each run a handler on a thread.
class RawServer {
  public:
    using Handler = std::function<void(int fd)>;
    // accept=false: listen only and never accept (with a backlog of 0, later connects hang).
    explicit RawServer(Handler handler, bool accept = true);
    ~RawServer();
    int Port() const { return port_; }
    std::string URL(const std::string& path = "/") const;
    int Accepted() const { return accepted_.load(); }
    bool Stopping() const { return stop_.load(); }

  private:
    void AcceptLoop();
    Handler handler_;
    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptor_;
    std::mutex mu_;
    std::vector<int> clients_;
    std::vector<std::thread> workers_;
};

// Socket helpers for raw handlers.
// Reads one request (headers and a Content-Length body); "" at end of stream.
std::string ReadRequest(int fd);
bool SendAll(int fd, const std::string& data);
// Blocks until the peer closes or the server stops.
void WaitForClose(int fd);
std::string HeaderValue(const std::string& request, const std::string& name);

// A forward proxy: takes absolute-URI requests (relayed over a fresh upstream connection each)
// and CONNECT tunnels for HTTPS, optionally demanding Basic proxy credentials first.
class ForwardProxy {
  public:
    explicit ForwardProxy(std::string user = {}, std::string password = {});
    int Port() const { return server_->Port(); }
    std::string Address() const;  // "127.0.0.1:port"
    std::vector<std::string> RequestLines() const;
    int Challenges() const { return challenges_.load(); }

  private:
    void Serve(int fd);
    void Tunnel(int fd, int port);  // CONNECT: relays bytes both ways until one side closes
    std::string expectedAuth_;
    mutable std::mutex mu_;
    std::vector<std::string> requestLines_;
    std::atomic<int> challenges_{0};
    std::unique_ptr<RawServer> server_;  // last: stops before the fields above go
};

std::string Base64(const std::string& in);

// A key and certificate pair owned together.
struct CertKey {
    std::shared_ptr<EVP_PKEY> key;
    std::shared_ptr<X509> cert;
};

// A test certificate authority and the server certificates it issues.
class TestAuthority {
  public:
    explicit TestAuthority(const std::string& name = "Velqor Test Authority");
    // A server certificate for name, valid from now+fromDays to now+toDays.
    CertKey Issue(const std::string& name, int fromDays = -1, int toDays = 30) const;
    // A certificate signed by its own key.
    static CertKey SelfSigned(const std::string& name);
    // Writes the authority's certificate as PEM; returns the path.
    std::string WriteCertificate(const std::string& path) const;

  private:
    CertKey ca_;
};

// An HTTPS front on a free port that relays each POST (body, SOAPAction, content type) to a
// plain HTTP service on 127.0.0.1:backPort and answers with its reply.
class TlsRelay {
  public:
    TlsRelay(const CertKey& cert, int backPort);
    std::string URL(const std::string& path) const { return server_.URL(path); }

  private:
    int backPort_;
    HttpServer server_;
};

// A fresh temporary directory, removed with its files at destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace velqor::test
