// xmlda-sim: runs the OPC XML-DA 1.0 simulation service until interrupted.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "contract/VelqorVersion.h"
#include "xmlda/Process.h"
#include "xmlda/XmlDaSim.h"

int main(int argc, char** argv) {
    using velqor::xmldasim::FaultStyle;
    velqor::xmldasim::Options o;
    velqor::xmldasim::Switches& s = o.switches;
    std::string fault;
    int dropEveryMs = 0;

    CLI::App app{
        "xmlda-sim: an OPC XML-DA 1.0 simulation service.\n"
        "Send SIGUSR1 to drop all subscriptions; SIGINT or SIGTERM stops it."};
    app.set_version_flag("--version", "xmlda-sim " VELQOR_VERSION);
    // An option whose help shows its default.
    auto shown = [&app](const char* name, auto& value, const char* what) {
        return app.add_option(name, value, what)->capture_default_str();
    };
    shown("--port", o.port, "TCP port; 0 picks a free one (printed at start)");
    shown("--bind", o.bind, "address to listen on");
    shown("--path", o.path, "endpoint path");
    shown("--clock-ms", o.clockPeriodMs, "period of the changing values, ms");
    shown("--load-items", o.loadItems, "items in the branch Load (up to 100000)")
        ->check(CLI::Range(0, 100000));
    shown("--load-period-ms", o.loadPeriodMs, "how often the Load items change, ms")
        ->check(CLI::Range(1, 86400000));
    shown("--max-body-bytes", o.maxBodyBytes,
          "largest request body accepted, decoded (a Subscribe of 100000 items needs "
          "about 8 MB)");
    shown("--threads", o.threads, "concurrent connections");
    shown("--head-timeout-ms", o.headTimeoutMs,
          "time a client has to send a request's line and headers");
    shown("--body-timeout-ms", o.bodyTimeoutMs, "time a client has to send a request body");
    shown("--write-timeout-ms", o.writeTimeoutMs, "time a client has to take a reply");
    shown("--idle-timeout-ms", o.idleTimeoutMs,
          "time a kept-alive connection may wait for its next request");
    shown("--default-ping-rate-ms", o.defaultPingRateMs,
          "ping rate of subscriptions whose client gives none");
    shown("--max-subscriptions", o.maxSubscriptions, "subscriptions live at once");
    shown("--concurrent-builds", o.concurrentBuilds,
          "replies built at once (0: one per processor, at least 2)");
    shown("--reply-bytes-in-transit", o.replyBytesInTransit,
          "bytes of replies not yet taken by clients before large ones get 503");
    app.add_flag("--load-mixed", o.loadMixed,
                 "Load items of mixed shapes: of every 100, 5 arrays (doubles, strings), 2 nil, "
                 "10 date-times, the rest ints");
    app.add_flag("--prefixed", s.prefixed, "write reply elements with the ns1: prefix");
    app.add_flag("--utf16", s.utf16, "write reply bodies in UTF-16");
    app.add_flag("--chunked", s.chunked, "send replies with chunked transfer encoding");
    app.add_flag("--compress", s.compress,
                 "compress replies (gzip or deflate) for clients that accept it; off: never");
    app.add_option("--soap-fault", fault,
                   "answer every request with a SOAP fault: 1.1, 1.2, or bare (no code, no text)")
        ->check(CLI::IsMember({"1.1", "1.2", "bare"}));
    app.add_option("--http-status", s.httpStatus,
                   "answer every request with this HTTP status (404, 500, 503)")
        ->check(CLI::IsMember({404, 500, 503}));
    shown("--error-page-type", s.errorPageType, "content type of the --http-status page");
    app.add_option("--error-text", s.errorText, "the Text of every Errors entry of a reply");
    app.add_option("--delay-ms", s.delayMs, "wait this long before every reply");
    app.add_flag("--close-mid-reply", s.closeMidReply,
                 "close the connection halfway through every reply");
    app.add_option("--only-operation", s.onlyOperation,
                   "apply --soap-fault, --http-status, --delay-ms and --close-mid-reply to this "
                   "operation only");
    app.add_option("--drop-subscriptions-every", dropEveryMs,
                   "drop all subscriptions every N ms (0: never)");
    app.add_option("--expire-idle-ms", s.expireIdleMs,
                   "drop a subscription not polled for N ms, whatever ping rate was asked (0: "
                   "after twice its ping rate)");
    app.add_option("--max-hold-ms", s.maxHoldMs,
                   "refuse polls held or waiting longer than N ms with E_INVALIDHOLDTIME (0: 10 "
                   "minutes)");
    app.add_option("--user", s.user, "require basic authentication with this user");
    app.add_option("--password", s.password, "password for --user");
    app.add_option("--browse-page", s.browsePage,
                   "at most N elements per Browse reply, whatever the client asks (0: as asked)");
    app.add_flag("--fault-continuation", s.faultContinuation,
                 "answer every continued Browse with the fault E_INVALIDCONTINUATIONPOINT");
    app.add_flag("--unusual-property-names", s.unusualPropertyNames,
                 "name item properties as some servers do (\"EUType\", \"High EU\", ...)");
    app.add_option("--server-state", s.serverState, "ServerState reported in replies")
        ->check(CLI::IsMember({"running", "failed", "noConfig", "suspended", "test", "commFault"}));
    CLI11_PARSE(app, argc, argv);
    if (fault == "1.1") s.fault = FaultStyle::Soap11;
    if (fault == "1.2") s.fault = FaultStyle::Soap12;
    if (fault == "bare") s.fault = FaultStyle::Bare;

    velqor::xmldasim::PrepareProcess();
    velqor::xmldasim::Service sim(o);
    try {
        sim.start();
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    std::printf("xmlda-sim listening: path %s url %s\n", sim.path().c_str(), sim.url().c_str());
    std::fflush(stdout);

    velqor::xmldasim::WaitForStop(sim, dropEveryMs);
    sim.stop();
    return 0;
}
