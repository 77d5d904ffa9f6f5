// The HTTP poster on hostile responses: each input is the raw bytes a server sends back (status
// line, headers, body with any framing and content encoding), served by a loopback socket server
// to one Post() of a fresh poster. Toolkit errors are expected; anything else (a crash, a hang
// past the time-outs, a foreign exception, a sanitizer report) is a finding.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "contract/VelqorError.h"
#include "http/VelqorSOAPPoster.h"

namespace {

// The response for the current input and how many connections the server has finished.
std::mutex mu;
std::condition_variable served;
std::string response;
unsigned long long finished = 0;
int port = 0;
bool show = false;

// Reads the request (headers and a Content-Length body) so that closing does not reset the
// connection under the response; gives up on a silent or odd client.
void ReadRequest(int fd) {
    std::string in;
    char buf[4096];
    std::size_t need = std::string::npos;
    while (need == std::string::npos || in.size() < need) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return;
        in.append(buf, std::size_t(n));
        const auto end = in.find("\r\n\r\n");
        if (need == std::string::npos && end != std::string::npos) {
            std::size_t length = 0;
            const auto at = in.find("Content-Length: ");
            if (at != std::string::npos && at < end)
                length = std::strtoul(in.c_str() + at + 16, nullptr, 10);
            need = end + 4 + length;
        }
    }
}

void Serve(int listener) {
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        timeval limit{2, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        std::string bytes;
        {
            std::lock_guard lock(mu);
            bytes = response;
        }
        ReadRequest(fd);
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;  // the client has given up on the response
            sent += std::size_t(n);
        }
        ::shutdown(fd, SHUT_WR);
        ::close(fd);
        {
            std::lock_guard lock(mu);
            ++finished;
        }
        served.notify_all();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        unsetenv(name);
    show = std::getenv("FUZZ_HTTP_SHOW") != nullptr;
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("loopback server");
        std::abort();
    }
    port = ntohs(addr.sin_port);
    std::thread(Serve, listener).detach();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    unsigned long long before;
    {
        std::lock_guard lock(mu);
        response.assign(reinterpret_cast<const char*>(data), size);
        before = finished;
    }
    velqor::THTTPPostSettings settings;
    settings.URL = "http://127.0.0.1:" + std::to_string(port) + "/opc";
    settings.ConnectTimeout = settings.SendTimeout = settings.ReceiveTimeout = 2000;
    {
        auto poster = velqor::CreatePoster(settings);
        std::string body;
        std::string outcome;
        try {
            poster->Post("act", "<x/>", body);
            outcome = "reply of " + std::to_string(body.size()) + " bytes";
        } catch (const velqor::Exception& e) {
            outcome = e.what();
        }
        // FUZZ_HTTP_SHOW=1 shows what became of each input (when reproducing one).
        if (show) std::fprintf(stderr, "%s\n", outcome.c_str());
    }
    // The next input starts once the server is done with this one's connection.
    std::unique_lock lock(mu);
    served.wait_for(lock, std::chrono::seconds(5), [&] { return finished > before; });
    return 0;
}
