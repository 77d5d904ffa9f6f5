#include "LoopbackServers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "support/WaitUntil.h"

namespace velqor::test {

void ClearProxyEnvironment() {
    for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"})
        unsetenv(name);
}

// ---------------------------------------------------------------------------------- HttpServer

HttpServer::HttpServer() : server_(std::make_unique<httplib::Server>()) {}

HttpServer::HttpServer(X509* cert, EVP_PKEY* key)
    : server_(std::make_unique<httplib::SSLServer>(cert, key)), tls_(true) {}

HttpServer::~HttpServer() {
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

void HttpServer::Start() {
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) throw std::runtime_error("cannot bind the test server");
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    if (!WaitUntil([this] { return server_->is_running(); }))
        throw std::runtime_error("the test server did not start");
}

std::string HttpServer::URL(const std::string& path) const {
    return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

void HttpServer::NoteConnection(const httplib::Request& req) {
    std::lock_guard lock(mu_);
    remotePorts_.insert(req.remote_port);
}

std::size_t HttpServer::Connections() const {
    std::lock_guard lock(mu_);
    return remotePorts_.size();
}

// ----------------------------------------------------------------------------------- RawServer

RawServer::RawServer(Handler handler, bool accept) : handler_(std::move(handler)) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, accept ? 16 : 0) != 0)
        throw std::runtime_error("cannot listen");
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    if (accept) acceptor_ = std::thread([this] { AcceptLoop(); });
}

RawServer::~RawServer() {
    stop_.store(true);
    ::shutdown(listenFd_, SHUT_RDWR);
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard lock(mu_);
        for (int fd : clients_) ::shutdown(fd, SHUT_RDWR);
        workers.swap(workers_);
    }
    for (auto& w : workers) w.join();
    for (int fd : clients_) ::close(fd);
    ::close(listenFd_);
}

std::string RawServer::URL(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void RawServer::AcceptLoop() {
    while (!stop_.load()) {
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0) continue;
        accepted_.fetch_add(1);
        std::lock_guard lock(mu_);
        if (stop_.load()) {
            ::close(fd);
            break;
        }
        clients_.push_back(fd);
        workers_.emplace_back([this, fd] { handler_(fd); });
    }
}

// ----------------------------------------------------------------------------- socket helpers

std::string ReadRequest(int fd) {
    std::string data;
    char buf[65536];
    std::size_t headerEnd = std::string::npos;
    while (headerEnd == std::string::npos) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return {};
        data.append(buf, static_cast<std::size_t>(n));
        headerEnd = data.find("\r\n\r\n");
    }
    const std::string length = HeaderValue(data.substr(0, headerEnd + 2), "Content-Length");
    const std::size_t want = headerEnd + 4 + (length.empty() ? 0 : std::stoul(length));
    while (data.size() < want) {
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return {};
        data.append(buf, static_cast<std::size_t>(n));
    }
    return data;
}

bool SendAll(int fd, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

void WaitForClose(int fd) {
    char c;
    while (::recv(fd, &c, 1, 0) > 0) {
    }
}

std::string HeaderValue(const std::string& request, const std::string& name) {
    std::size_t pos = request.find("\r\n");
    while (pos != std::string::npos && pos + 2 < request.size()) {
        const std::size_t start = pos + 2;
        const std::size_t end = request.find("\r\n", start);
        if (end == std::string::npos || end == start) break;
        const std::string line = request.substr(start, end - start);
        const auto colon = line.find(':');
        if (colon == name.size()) {
            bool same = true;
            for (std::size_t i = 0; i < colon && same; ++i)
                same = std::tolower(static_cast<unsigned char>(line[i])) ==
                       std::tolower(static_cast<unsigned char>(name[i]));
            if (same) {
                std::size_t v = colon + 1;
                while (v < line.size() && line[v] == ' ') ++v;
                return line.substr(v);
            }
        }
        pos = end;
    }
    return {};
}

std::string Base64(const std::string& in) {
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(in[i]) << 16) |
                           (static_cast<unsigned char>(in[i + 1]) << 8) |
                           static_cast<unsigned char>(in[i + 2]);
        out += {abc[v >> 18], abc[(v >> 12) & 63], abc[(v >> 6) & 63], abc[v & 63]};
    }
    if (i + 1 == in.size()) {
        const unsigned v = static_cast<unsigned char>(in[i]) << 16;
        out += {abc[v >> 18], abc[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == in.size()) {
        const unsigned v = (static_cast<unsigned char>(in[i]) << 16) |
                           (static_cast<unsigned char>(in[i + 1]) << 8);
        out += {abc[v >> 18], abc[(v >> 12) & 63], abc[(v >> 6) & 63], '='};
    }
    return out;
}

// -------------------------------------------------------------------------------- ForwardProxy

namespace {
int ConnectLoopback(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}
}  // namespace

ForwardProxy::ForwardProxy(std::string user, std::string password) {
    if (!user.empty()) expectedAuth_ = "Basic " + Base64(user + ":" + password);
    server_ = std::make_unique<RawServer>([this](int fd) { Serve(fd); });
}

std::string ForwardProxy::Address() const { return "127.0.0.1:" + std::to_string(Port()); }

std::vector<std::string> ForwardProxy::RequestLines() const {
    std::lock_guard lock(mu_);
    return requestLines_;
}

void ForwardProxy::Serve(int fd) {
    while (true) {
        std::string request = ReadRequest(fd);
        if (request.empty()) return;
        if (!expectedAuth_.empty() &&
            HeaderValue(request, "Proxy-Authorization") != expectedAuth_) {
            challenges_.fetch_add(1);
            SendAll(fd,
                    "HTTP/1.1 407 Proxy Authentication Required\r\n"
                    "Proxy-Authenticate: Basic realm=\"test-proxy\"\r\nContent-Length: 0\r\n\r\n");
            continue;
        }
        // "POST http://127.0.0.1:port/path HTTP/1.1" or "CONNECT 127.0.0.1:port HTTP/1.1"
        const std::string line = request.substr(0, request.find("\r\n"));
        {
            std::lock_guard lock(mu_);
            requestLines_.push_back(line);
        }
        if (line.rfind("CONNECT ", 0) == 0) {
            const std::string hostPort = line.substr(8, line.rfind(' ') - 8);
            Tunnel(fd, std::stoi(hostPort.substr(hostPort.find(':') + 1)));
            return;
        }
        const auto sp1 = line.find(' ');
        const auto sp2 = line.rfind(' ');
        const std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
        const auto hostStart = target.find("://") + 3;
        const auto pathStart = target.find('/', hostStart);
        const std::string hostPort = target.substr(hostStart, pathStart - hostStart);
        const int port = std::stoi(hostPort.substr(hostPort.find(':') + 1));
        std::string upstreamRequest = line.substr(0, sp1 + 1) + target.substr(pathStart) +
                                      line.substr(sp2) + "\r\nConnection: close";
        // Forward the header lines except the hop-by-hop ones.
        std::size_t pos = request.find("\r\n");
        const std::size_t headerEnd = request.find("\r\n\r\n");
        while (pos < headerEnd) {
            const std::size_t end = request.find("\r\n", pos + 2);
            const std::string h = request.substr(pos + 2, end - pos - 2);
            std::string lower = h;
            for (auto& c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (lower.rfind("proxy-", 0) != 0 && lower.rfind("connection", 0) != 0)
                upstreamRequest += "\r\n" + h;
            pos = end;
        }
        upstreamRequest += request.substr(headerEnd);

        const int up = ConnectLoopback(port);
        if (up < 0) {
            SendAll(fd, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
            continue;
        }
        SendAll(up, upstreamRequest);
        char buf[65536];
        ssize_t n;
        while ((n = ::recv(up, buf, sizeof buf, 0)) > 0)
            SendAll(fd, std::string(buf, static_cast<std::size_t>(n)));
        ::close(up);
        return;  // the relayed reply says "Connection: close"
    }
}

void ForwardProxy::Tunnel(int fd, int port) {
    const int up = ConnectLoopback(port);
    if (up < 0) {
        SendAll(fd, "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
        return;
    }
    SendAll(fd, "HTTP/1.1 200 Connection established\r\n\r\n");
    pollfd fds[2] = {{fd, POLLIN, 0}, {up, POLLIN, 0}};
    char buf[65536];
    while (::poll(fds, 2, -1) > 0) {
        bool closed = false;
        for (int i = 0; i < 2 && !closed; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = ::recv(fds[i].fd, buf, sizeof buf, 0);
            closed =
                n <= 0 || !SendAll(fds[1 - i].fd, std::string(buf, static_cast<std::size_t>(n)));
        }
        if (closed) break;
    }
    ::close(up);
}

// ------------------------------------------------------------------------------- TestAuthority

namespace {

CertKey MakeCert(const std::string& name, const CertKey* issuer, int fromDays, int toDays,
                 bool isCA) {
    CertKey out;
    EVP_PKEY* key = EVP_EC_gen("P-256");
    out.key.reset(key, EVP_PKEY_free);
    X509* cert = X509_new();
    out.cert.reset(cert, X509_free);
    static std::atomic<long> serial{1000};
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial.fetch_add(1));
    X509_gmtime_adj(X509_getm_notBefore(cert), static_cast<long>(fromDays) * 86400);
    X509_gmtime_adj(X509_getm_notAfter(cert), static_cast<long>(toDays) * 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* subject = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer->cert.get()) : subject);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer ? issuer->cert.get() : cert, cert, nullptr, nullptr, 0);
    auto add = [&](int nid, const std::string& value) {
        X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
        X509_add_ext(cert, ext, -1);
        X509_EXTENSION_free(ext);
    };
    add(NID_basic_constraints, isCA ? "critical,CA:TRUE" : "CA:FALSE");
    add(NID_subject_key_identifier, "hash");
    if (isCA)
        add(NID_key_usage, "critical,keyCertSign,cRLSign");
    else
        // The loopback servers are reached as 127.0.0.1, which "localhost" names too.
        add(NID_subject_alt_name, "DNS:" + name + (name == "localhost" ? ",IP:127.0.0.1" : ""));
    X509_sign(cert, issuer ? issuer->key.get() : key, EVP_sha256());
    return out;
}

}  // namespace

TestAuthority::TestAuthority(const std::string& name)
    : ca_(MakeCert(name, nullptr, -1, 365, true)) {}

CertKey TestAuthority::Issue(const std::string& name, int fromDays, int toDays) const {
    return MakeCert(name, &ca_, fromDays, toDays, false);
}

CertKey TestAuthority::SelfSigned(const std::string& name) {
    return MakeCert(name, nullptr, -1, 30, false);
}

std::string TestAuthority::WriteCertificate(const std::string& path) const {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) throw std::runtime_error("cannot write " + path);
    PEM_write_X509(f, ca_.cert.get());
    std::fclose(f);
    return path;
}

TlsRelay::TlsRelay(const CertKey& cert, int backPort)
    : backPort_(backPort), server_(cert.cert.get(), cert.key.get()) {
    server_.Srv().Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
        httplib::Client back("127.0.0.1", backPort_);
        auto r = back.Post(req.path, {{"SOAPAction", req.get_header_value("SOAPAction")}}, req.body,
                           req.get_header_value("Content-Type"));
        if (!r) return void(res.status = 502);
        res.status = r->status;
        res.set_content(r->body, r->get_header_value("Content-Type"));
    });
    server_.Start();
}

TempDir::TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "velqor-http-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

}  // namespace velqor::test
