// Round trips through the poster against an in-process loopback server: what keep-alive saves
// per request, the cost of large bodies, and what a server that compresses its replies costs
// (httplib compresses text/xml when the client offers encodings, as the poster does).
#include <benchmark/benchmark.h>
#include <httplib.h>

#include <cstdlib>
#include <thread>

#include "http/VelqorSOAPPoster.h"

namespace {

const std::string kStatusReply = "<Envelope><Body><GetStatusResponse/></Body></Envelope>";

class Server {
  public:
    Server() {
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"})
            unsetenv(name);
        srv_.set_tcp_nodelay(true);  // otherwise Nagle and delayed ACKs add ~40 ms per reply
        // "text/xml" replies are compressed by the server; "application/soap+xml" ones are not.
        for (const char* type : {"text/xml", "application/soap+xml"}) {
            const std::string prefix = type[0] == 't' ? "/packed" : "/plain";
            srv_.Post(prefix + "/echo",
                      [type](const httplib::Request& req, httplib::Response& res) {
                          res.set_content(req.body, type);
                      });
            srv_.Post(prefix + "/small", [type](const httplib::Request&, httplib::Response& res) {
                res.set_content(kStatusReply, type);
            });
        }
        port_ = srv_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { srv_.listen_after_bind(); });
        while (!srv_.is_running()) std::this_thread::yield();
    }
    ~Server() {
        srv_.stop();
        thread_.join();
    }
    std::string URL(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

  private:
    httplib::Server srv_;
    int port_ = 0;
    std::thread thread_;
};

Server& TheServer() {
    static Server server;
    return server;
}

const char* Prefix(const benchmark::State& state) { return state.range(0) ? "/packed" : "/plain"; }

const std::string kRequest(1500, 'r');  // about the size of a small XML-DA request

// Arg: 0 = plain replies, 1 = compressed replies.
void BM_PostKeptAlive(benchmark::State& state) {
    auto poster = velqor::CreatePoster(TheServer().URL(std::string(Prefix(state)) + "/small"), "",
                                       "", "", "");
    std::string reply;
    for (auto _ : state) {
        reply.clear();
        poster->Execute("urn:GetStatus", kRequest, reply);
        benchmark::DoNotOptimize(reply.data());
    }
}
BENCHMARK(BM_PostKeptAlive)->Arg(0)->Arg(1)->UseRealTime();

void BM_PostOnceNewConnection(benchmark::State& state) {
    const std::string url = TheServer().URL(std::string(Prefix(state)) + "/small");
    std::string reply;
    for (auto _ : state) {
        reply.clear();
        velqor::PostOnce(url, "", "", "", "", "urn:GetStatus", kRequest, reply);
        benchmark::DoNotOptimize(reply.data());
    }
}
BENCHMARK(BM_PostOnceNewConnection)->Arg(0)->Arg(1)->UseRealTime();

// Args: compressed, body size; the body travels both ways.
void BM_EchoBody(benchmark::State& state) {
    auto poster =
        velqor::CreatePoster(TheServer().URL(std::string(Prefix(state)) + "/echo"), "", "", "", "");
    const std::string body(static_cast<std::size_t>(state.range(1)), 'b');
    std::string reply;
    for (auto _ : state) {
        reply.clear();
        poster->Execute("urn:Write", body, reply);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(1) * 2);
}
BENCHMARK(BM_EchoBody)->Args({0, 64 << 10})->Args({0, 4 << 20})->Args({1, 64 << 10})->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
