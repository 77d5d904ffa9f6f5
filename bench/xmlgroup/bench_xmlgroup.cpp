// One XML-DA group of 10,000 items against xmlda-sim on loopback, with a short update rate:
//  - item values applied per second on the owning thread,
//  - the owning thread's CPU time per 1,000 applied values,
//  - the round trip of one polled refresh of all 10,000 items (write, post, read, decode),
//    beside a bare libcurl POST of the same request body (the floor).
// Prints the median of a few runs.
//
// xmlda-sim compresses text/xml replies in whatever encoding the client offers (the toolkit's
// poster offers gzip and deflate), which on loopback costs more than the transfer saves. The
// figures are therefore taken through a small loopback relay that answers uncompressed; the
// round trip is also shown direct, compressed, for comparison.
//
//   bench_xmlgroup [--runs N] [--seconds S] [--rate MS] [--trips N] [--direct N]
#include <curl/curl.h>
#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "LoadGroup.h"
#include "LoadSubscription.h"
#include "model/Velqor.h"
#include "xmlda/VelqorXMLDAGroup.h"
#include "xmlda/XmlDaSim.h"

using namespace velqor;
using namespace velqor::bench;

namespace {

constexpr int kItems = 10000;

// Values applied by the server component while it runs for the given time; the items go to the
// service in one Subscribe when the server activates.
Throughput RunGroup(const std::string& url, int rateMs, double seconds) {
    PlainEventLoop loop;
    TVelqorServer server(&loop);
    uint64_t applied = 0;
    StartLoadGroup(loop, server, url, kItems, rateMs, false, applied);
    const Throughput t = MeasureThroughput(loop, applied, seconds);
    server.SetActive(false);
    return t;
}

// Forwards SOAP requests to the service with only SOAPAction and Content-Type, so the service
// does not compress, and answers uncompressed.
class PlainRelay {
  public:
    PlainRelay(int port, const std::string& path) : port_(port), path_(path) {
        server_.Post(path, [this](const httplib::Request& req, httplib::Response& res) {
            httplib::Client c("127.0.0.1", port_);
            c.set_read_timeout(300, 0);
            httplib::Headers h{{"SOAPAction", req.get_header_value("SOAPAction")}};
            auto r = c.Post(path_, h, req.body, req.get_header_value("Content-Type"));
            if (!r) {
                res.status = 502;
                return;
            }
            res.status = r->status;
            // A type the relay's server does not compress, whatever the client accepts.
            res.set_content(r->body, "application/soap+xml; charset=utf-8");
        });
        int p = server_.bind_to_any_port("127.0.0.1");
        url_ = "http://127.0.0.1:" + std::to_string(p) + path;
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ~PlainRelay() {
        server_.stop();
        thread_.join();
    }
    const std::string& url() const { return url_; }

  private:
    int port_;
    std::string path_, url_;
    httplib::Server server_;
    std::thread thread_;
};

// Median milliseconds of one polled refresh through the toolkit: write, post, read, decode.
double ToolkitTrips(const std::string& url, const xmlda::SubscriptionPolledRefresh& poll, int trips,
                    size_t& decoded) {
    TVelqorSOAPData settings = SoapSettings(url);
    return MedianMs(trips, [&] { decoded = UpdatesOf(*CallOperation(settings, poll)).size(); });
}

size_t CurlSink(char* data, size_t size, size_t n, void* out) {
    static_cast<std::string*>(out)->append(data, size * n);
    return size * n;
}

// Median milliseconds of one bare POST of the body over a kept-alive libcurl handle;
// compressed asks for gzip or deflate replies, as the toolkit's poster does.
double BareTrips(const std::string& url, const std::string& action, const std::string& body,
                 bool compressed, int trips, size_t& replyBytes) {
    CURL* easy = curl_easy_init();
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Content-Type: text/xml; charset=\"utf-8\"");
    headers = curl_slist_append(headers, ("SOAPAction: \"" + action + "\"").c_str());
    std::string response;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, long(body.size()));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, CurlSink);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
    if (compressed) curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    std::vector<double> ms;
    for (int i = 0; i < trips; ++i) {
        response.clear();
        const auto t0 = Clock::now();
        const CURLcode rc = curl_easy_perform(easy);
        ms.push_back(MsSince(t0));
        if (rc != CURLE_OK) std::fprintf(stderr, "bare POST failed: %s\n", curl_easy_strerror(rc));
        replyBytes = response.size();
    }
    curl_slist_free_all(headers);
    curl_easy_cleanup(easy);
    return Median(ms);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3, rateMs = 100, trips = 25, direct = 3;
    double seconds = 5;
    ReadOptions(argc, argv,
                {{"--runs", &runs},
                 {"--seconds", &seconds},
                 {"--rate", &rateMs},
                 {"--trips", &trips},
                 {"--direct", &direct}});
    ApplicationHooks::SetMessageDisplay([](const std::string&) {});

    xmldasim::Options o;
    o.loadItems = kItems;
    xmldasim::Service sim(o);
    sim.start();
    const std::string url = sim.url();
    PlainRelay relay(sim.port(), sim.path());

    std::vector<double> rates, cpus;
    for (int r = 0; r < runs; ++r) {
        Throughput t = RunGroup(relay.url(), rateMs, seconds);
        std::printf("run %d: %.0f values/s applied, %.3f ms owning-thread CPU per 1000 values\n",
                    r + 1, t.valuesPerSecond, t.cpuMsPer1000);
        rates.push_back(t.valuesPerSecond);
        cpus.push_back(t.cpuMsPer1000);
    }

    // A subscription of all items of its own, polled for all of them on every request.
    TVelqorSOAPData settings = SoapSettings(url);
    auto poll = SubscribeLoad(settings, kItems, rateMs);
    poll->Options->ReturnItemTime = true;
    std::string action;
    const std::string body =
        WriteXmlDaRequest(settings.Namespace, "SubscriptionPolledRefresh", *poll, action);

    size_t decoded = 0, replyBytes = 0;
    const double toolkitPlain = ToolkitTrips(relay.url(), *poll, trips, decoded);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const double barePlain = BareTrips(relay.url(), action, body, false, trips, replyBytes);
    const int fewTrips = direct;
    size_t decodedDirect = 0, bytesDirect = 0;
    const double toolkitDirect =
        fewTrips > 0 ? ToolkitTrips(url, *poll, fewTrips, decodedDirect) : 0;
    const double bareDirect =
        fewTrips > 0 ? BareTrips(url, action, body, true, fewTrips, bytesDirect) : 0;
    sim.stop();

    std::printf("\none group of %d items, update rate %d ms, %d runs of %.1f s (medians):\n",
                kItems, rateMs, runs, seconds);
    std::printf("  item values applied per second        %10.0f\n", Median(rates));
    std::printf("  owning-thread CPU per 1,000 values    %10.3f ms\n", Median(cpus));
    std::printf("polled refresh of all %zu items (%zu reply bytes), %d trips (medians):\n", decoded,
                replyBytes, trips);
    std::printf("  toolkit: write, post, read, decode    %10.2f ms\n", toolkitPlain);
    std::printf("  bare libcurl POST of the same body    %10.2f ms   (the floor)\n", barePlain);
    std::printf("direct to xmlda-sim, replies compressed (gzip), %d trips (medians):\n", fewTrips);
    std::printf("  toolkit                               %10.2f ms\n", toolkitDirect);
    std::printf("  bare libcurl POST, gzip or deflate    %10.2f ms\n", bareDirect);
    return 0;
}
