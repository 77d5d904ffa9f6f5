// The HTTP side of the simulation service: cpp-httplib server, switches, authentication and the
// ways a reply can be delivered (plain, chunked, UTF-16, cut off).
#include "xmlda/XmlDaSim.h"

#include <httplib.h>
#include <libxml/parser.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

#include "xmlda/AddressSpace.h"
#include "xmlda/GuardedServer.h"
#include "xmlda/Operations.h"
#include "xmlda/Process.h"
#include "xmlda/SoapIo.h"
#include "xmlda/Subscriptions.h"

#ifndef XMLDA_SIM_VERSION
#define XMLDA_SIM_VERSION "0.0.0"
#endif

namespace velqor::xmldasim {
namespace {
constexpr std::size_t kSmallReply = 64 * 1024;
constexpr std::size_t kLargeReply = 1024 * 1024;
constexpr int kMaxLoadItems = 100000;  // Item00000 .. Item99999
}  // namespace

struct Service::Impl {
    explicit Impl(Options o)
        : options(std::move(o)),
          sw(options.switches),
          space(nowMs(), options.clockPeriodMs, std::clamp(options.loadItems, 0, kMaxLoadItems),
                options.loadPeriodMs, options.loadMixed),
          subs(options.maxSubscriptions, options.defaultPingRateMs) {}

    void handle(const httplib::Request& hreq, std::string_view body, httplib::Response& res);
    bool authorized(const httplib::Request& hreq, const Switches& s) const;
    void send(httplib::Response& res, int status, std::string body, const std::string& contentType,
              bool chunked, bool cutOff);
    static void busy(httplib::Response& res) {
        res.status = 503;
        res.set_header("Retry-After", "1");
        res.set_content("The service is busy delivering other large replies.\n", "text/plain");
    }
    bool transitFull() {
        std::lock_guard lock(transitMutex);
        return saturated || inTransit >= options.replyBytesInTransit;
    }
    // Waits for a free build slot; false when the service is stopping.
    bool enterBuild();
    void leaveBuild();

    Options options;
    mutable std::mutex swMutex;  // guards sw
    Switches sw;

    AddressSpace space;
    SubscriptionStore subs;

    mutable std::mutex runMutex;     // guards the fields below and serialises start/stop
    std::condition_variable stopCv;  // also signals a free build slot
    bool stopping = false;
    int builds = 0;
    std::unique_ptr<GuardedServer> server;
    std::thread listener;
    int boundPort = 0;
    TimePoint startTime;
    std::string tag;

    std::atomic<std::size_t> requests{0};
    std::atomic<long long> lastTrimMs{0};  // steady clock, when freed memory last went back

    std::mutex transitMutex;
    std::size_t inTransit = 0;  // bytes of replies not yet taken by their clients
    bool saturated = false;     // a reply did not fit; until some are taken, none will
};

namespace {

std::string newTag() {
    std::random_device rd;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(rd()));
    return buf;
}

}  // namespace

bool Service::Impl::authorized(const httplib::Request& hreq, const Switches& s) const {
    const std::string expected =
        httplib::make_basic_authentication_header(s.user, s.password).second;
    return hreq.has_header("Authorization") && hreq.get_header_value("Authorization") == expected;
}

bool Service::Impl::enterBuild() {
    const int slots = options.concurrentBuilds > 0
                          ? options.concurrentBuilds
                          : std::max(2, static_cast<int>(std::thread::hardware_concurrency()));
    std::unique_lock lock(runMutex);
    stopCv.wait(lock, [&] { return stopping || builds < slots; });
    if (stopping) return false;
    ++builds;
    return true;
}

void Service::Impl::leaveBuild() {
    {
        std::lock_guard lock(runMutex);
        --builds;
    }
    stopCv.notify_all();
}

void Service::Impl::send(httplib::Response& res, int status, std::string body,
                         const std::string& contentType, bool chunked, bool cutOff) {
    const std::size_t size = body.size();
    {
        std::lock_guard lock(transitMutex);
        // Small replies always go: they cannot add up to much, and a busy service still
        // answers GetStatus.
        if (size > kSmallReply && inTransit > 0 && inTransit + size > options.replyBytesInTransit) {
            saturated = true;
            return busy(res);
        }
        inTransit += size;
    }
    // The reply's bytes count until the library is done with it, taken or not.
    auto release = [this, size](bool) {
        std::lock_guard lock(transitMutex);
        inTransit -= size;
        saturated = false;
    };
    res.status = status;
    auto shared = std::make_shared<const std::string>(std::move(body));
    if (cutOff) {
        // Announce the whole length, deliver half of it, then drop the connection.
        const std::size_t half = shared->size() / 2;
        res.set_content_provider(
            shared->size(), contentType,
            [shared, half](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                if (offset >= half) return false;
                sink.write(shared->data() + offset, std::min(length, half - offset));
                return true;
            },
            release);
        return;
    }
    if (chunked) {
        res.set_chunked_content_provider(
            contentType,
            [shared](std::size_t offset, httplib::DataSink& sink) {
                if (offset < shared->size()) {
                    sink.write(shared->data() + offset,
                               std::min<std::size_t>(1024, shared->size() - offset));
                } else {
                    sink.done();
                }
                return true;
            },
            release);
        return;
    }
    res.set_content_provider(
        shared->size(), contentType,
        [shared](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            sink.write(shared->data() + offset, std::min(length, shared->size() - offset));
            return true;
        },
        release);
}

void Service::Impl::handle(const httplib::Request& hreq, std::string_view requestBody,
                           httplib::Response& res) {
    const TimePoint rcv = nowMs();
    const Switches s = [&] {
        std::lock_guard lock(swMutex);
        return sw;
    }();
    if (!s.user.empty() && !authorized(hreq, s)) {
        res.status = 401;
        res.set_header("WWW-Authenticate", "Basic realm=\"xmlda-sim\"");
        res.set_content("Authentication required.\n", "text/plain");
        return;
    }

    Request req;
    std::optional<SoapFault> fault;
    bool soap12 = false;
    try {
        req = parseRequest(requestBody, &soap12);
    } catch (const SoapFault& f) {
        fault = f;
    }
    if (!fault && hreq.has_header("SOAPAction")) {
        // An action, when given, must name the operation in the body (as ASP.NET peers insist).
        std::string action = hreq.get_header_value("SOAPAction");
        if (action.size() >= 2 && action.front() == '"' && action.back() == '"')
            action = action.substr(1, action.size() - 2);
        if (!action.empty() && action != std::string(kOpcNs) + req.opName)
            fault = SoapFault{true, "",
                              "The SOAPAction header '" + action +
                                  "' does not match the operation " + req.opName + "."};
    }
    const bool applies = s.onlyOperation.empty() || (!fault && req.opName == s.onlyOperation);

    if (applies && s.delayMs > 0) {
        std::unique_lock lock(runMutex);
        stopCv.wait_for(lock, std::chrono::milliseconds(s.delayMs), [&] { return stopping; });
    }
    if (applies && s.httpStatus > 0) {
        res.status = s.httpStatus;
        if (s.httpStatus == 503) res.set_header("Retry-After", "1");
        res.set_content(
            "<html><body>Simulated HTTP status " + std::to_string(s.httpStatus) + "</body></html>",
            s.errorPageType);
        return;
    }
    if (!fault && applies && s.fault != FaultStyle::None) {
        fault = SoapFault{false, "E_FAIL", "Simulated fault."};
        fault->bare = s.fault == FaultStyle::Bare;
        soap12 = s.fault == FaultStyle::Soap12;
    }

    std::string body;
    // A waiting poll must not hold a build slot; the others hold one while their reply exists
    // as a tree.
    // Status and cancel replies are small and quick: they never wait for a build slot.
    const bool small = req.opName == "GetStatus" || req.opName == "SubscriptionCancel";
    bool building = false;
    if (!fault && !small && req.opName != "SubscriptionPolledRefresh") {
        if (transitFull()) return busy(res);  // no use building a reply that cannot go
        building = enterBuild();
        if (!building) fault = SoapFault{false, "E_FAIL", "The service is stopping."};
        if (building && transitFull()) {  // filled up while this one waited
            leaveBuild();
            return busy(res);
        }
    }
    if (!fault) {
        ServiceState st{space, subs,           {},         s.serverState, XMLDA_SIM_VERSION, {},
                        &s,    s.expireIdleMs, s.maxHoldMs};
        {
            std::lock_guard lock(runMutex);
            st.startTime = startTime;
            st.tag = tag;
        }
        ReplyWriter w({s.prefixed, soap12, s.errorText});
        Call c{st, req, w, rcv};
        try {
            dispatch(c);
            body = w.serialize(s.utf16);
        } catch (const SoapFault& f) {
            fault = f;
        } catch (const std::exception& e) {
            fault = SoapFault{false, "E_FAIL", e.what()};
        }
    }
    if (building) leaveBuild();
    // The tree of a large reply is gone: give freed memory back to the system, which would
    // otherwise keep it in the heaps. At most once a second: a client polling large replies
    // again and again finds the pages of the last one still mapped, instead of faulting in
    // fresh ones for every reply.
    if (body.size() > kLargeReply) {
        const long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  std::chrono::steady_clock::now().time_since_epoch())
                                  .count();
        long long last = lastTrimMs.load();
        if (now - last >= 1000 && lastTrimMs.compare_exchange_strong(last, now)) ReturnFreeMemory();
    }
    int status = 200;
    if (fault) {
        ReplyWriter fw({s.prefixed, soap12, {}});
        fw.fault(*fault);
        body = fw.serialize(s.utf16);
        status = 500;
    }
    ++requests;
    const std::string charset = s.utf16 ? "utf-16" : "utf-8";
    const std::string type = soap12 ? "application/soap+xml; charset=" + charset
                                    : "text/xml; charset=\"" + charset + "\"";
    // The library compresses only replies sent in chunks: a client that accepts gzip or
    // deflate from a service allowed to compress gets its reply that way.
    const std::string accepted = hreq.get_header_value("Accept-Encoding");
    const bool compressed = s.compress && (accepted.find("gzip") != std::string::npos ||
                                           accepted.find("deflate") != std::string::npos);
    send(res, status, std::move(body), type, s.chunked || compressed, applies && s.closeMidReply);
}

Service::Service(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {
    xmlInitParser();  // once, before requests arrive on several threads
}

Service::~Service() { stop(); }

void Service::start() {
    std::unique_lock lock(impl_->runMutex);
    if (impl_->server) return;
    const Options& o = impl_->options;
    ConnectionLimits limits;
    auto ms = [](int v, int dflt) { return std::chrono::milliseconds(v > 0 ? v : dflt); };
    limits.headTimeout = ms(o.headTimeoutMs, 10000);
    limits.bodyTimeout = ms(o.bodyTimeoutMs, 60000);
    limits.writeTimeout = ms(o.writeTimeoutMs, 30000);
    limits.idleTimeout = ms(o.idleTimeoutMs, 2000);
    limits.maxBodyBytes = o.maxBodyBytes;
    auto server = std::make_unique<GuardedServer>(
        limits, static_cast<std::size_t>(o.threads > 0 ? o.threads : 64));
    // Headers and body leave in separate writes; without this, Nagle and delayed ACKs add ~40 ms.
    server->set_tcp_nodelay(true);
    Impl* impl = impl_.get();
    server->setCompressionAllowed([impl] {
        std::lock_guard swLock(impl->swMutex);
        return impl->sw.compress;
    });
    server->postWithBody(impl_->options.path,
                         [impl](const httplib::Request& q, std::string_view body,
                                httplib::Response& r) { impl->handle(q, body, r); });
    server->Get(impl_->options.path, [](const httplib::Request&, httplib::Response& r) {
        r.set_content(
            "xmlda-sim: an OPC XML-DA 1.0 web service. POST SOAP requests to this address.\n",
            "text/plain");
    });

    int port = impl_->options.port > 0 ? impl_->options.port : impl_->boundPort;
    const std::string& host = impl_->options.bind;
    const int asked = port;
    port = server->bindListening(host, asked);
    if (port <= 0)
        throw std::runtime_error(asked > 0 ? "xmlda-sim: cannot listen on " + host + ":" +
                                                 std::to_string(asked) +
                                                 " (is another server using that port?)"
                                           : "xmlda-sim: cannot bind " + host);
    impl_->boundPort = port;
    impl_->stopping = false;
    impl_->startTime = nowMs();
    impl_->tag = newTag();
    impl_->subs.reset(impl_->tag);
    GuardedServer* raw = server.get();
    impl_->listener = std::thread([raw] { raw->listen_after_bind(); });
    // stop() only works once the accept loop runs.
    for (int i = 0; i < 5000 && !raw->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!raw->is_running()) {
        raw->stop();
        impl_->listener.join();
        throw std::runtime_error("xmlda-sim: the server did not start");
    }
    impl_->server = std::move(server);
}

void Service::stop() {
    std::unique_ptr<GuardedServer> server;
    std::thread listener;
    {
        std::lock_guard lock(impl_->runMutex);
        if (!impl_->server) return;
        impl_->stopping = true;
        server = std::move(impl_->server);
        listener = std::move(impl_->listener);
    }
    impl_->stopCv.notify_all();
    impl_->subs.shutdown();
    server->stopServing();
    listener.join();  // the server's thread pool has joined its workers by now
    impl_->subs.reset(impl_->tag + "-stopped");
}

bool Service::running() const {
    std::lock_guard lock(impl_->runMutex);
    return impl_->server != nullptr;
}

int Service::port() const {
    std::lock_guard lock(impl_->runMutex);
    return impl_->boundPort;
}

std::string Service::path() const { return impl_->options.path; }

std::string Service::url() const {
    std::string host = impl_->options.bind;
    if (host == "0.0.0.0" || host.empty()) host = "127.0.0.1";
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    return "http://" + host + ":" + std::to_string(port()) + impl_->options.path;
}

void Service::setSwitches(const Switches& s) {
    std::lock_guard lock(impl_->swMutex);
    impl_->sw = s;
}

Switches Service::switches() const {
    std::lock_guard lock(impl_->swMutex);
    return impl_->sw;
}

void Service::dropAllSubscriptions() { impl_->subs.dropAll(); }

std::size_t Service::subscriptionCount() const { return impl_->subs.count(); }

std::size_t Service::pollsWaiting() const { return impl_->subs.pollsWaiting(); }

std::size_t Service::requestCount() const { return impl_->requests.load(); }

}  // namespace velqor::xmldasim
