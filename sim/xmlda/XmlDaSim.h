// xmlda-sim: an OPC XML-DA 1.0 web service on loopback, for exploring Tagscope and for testing the
// client's XML-DA transport end to end. Start it in-process:
//
//   velqor::xmldasim::Service sim;           // port 0: any free port
//   sim.start();
//   std::string url = sim.url();             // http://127.0.0.1:<port>/opc/xmlda
//   sim.setSwitches(...);                    // wire styles and faults, at any time
//   sim.stop();                              // prompt, also with polls waiting
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace velqor::xmldasim {

enum class FaultStyle { None, Soap11, Soap12, Bare };  // Bare: a Fault without code or text

// Wire styles and faults; they can be changed while the service runs.
struct Switches {
    bool prefixed = false;  // reply elements as ns1:Name instead of a default namespace
    bool utf16 = false;     // reply bodies in UTF-16 (with byte order mark)
    bool chunked = false;   // replies with chunked transfer encoding
    FaultStyle fault = FaultStyle::None;  // answer with a SOAP fault (E_FAIL) instead of a reply
    int httpStatus = 0;  // 404, 500 or 503: answer with this HTTP status and no SOAP body
    std::string errorPageType = "text/html";  // the content type of that status's HTML page
    std::string errorText;                    // when set, the Text of every Errors entry of a reply
    int delayMs = 0;                          // wait this long before answering
    bool closeMidReply = false;  // send the headers and half the body, then close the connection
    // When set, fault, httpStatus, delayMs and closeMidReply apply to this operation only
    // (for example "SubscriptionPolledRefresh"); otherwise to every request.
    std::string onlyOperation;
    // Replies compressed (gzip) for clients that accept it; otherwise never compressed, as a
    // service on loopback or a fast network would rather not spend the time.
    bool compress = false;
    // Basic authentication: when user is set, requests without these credentials get 401.
    std::string user;
    std::string password;
    std::string serverState = "running";  // the ServerState every reply reports
    // Browse behaviour of some servers: at most this many elements per reply whatever the client
    // asks (0: as asked), and a fault E_INVALIDCONTINUATIONPOINT for every continued browse.
    int browsePage = 0;
    bool faultContinuation = false;
    // Item properties as some servers name them: "EUType" with an integer value, "High EU" and
    // "Low EU" with the ID as the last segment of their ItemName, "Units" with the standard
    // name as its description.
    bool unusualPropertyNames = false;
    // When above 0: a subscription not polled for this long is dropped, whatever ping rate the
    // client asked for (otherwise after twice its ping rate).
    int expireIdleMs = 0;
    // When above 0: a poll whose hold time lies further ahead, or whose wait time is longer,
    // is refused with the fault E_INVALIDHOLDTIME.
    int maxHoldMs = 0;
};

struct Options {
    std::string bind = "127.0.0.1";
    int port = 0;  // 0: any free port (kept across a stop and start of the same Service)
    std::string path = "/opc/xmlda";
    int clockPeriodMs = 500;  // how often the Dynamic and Plant values change
    int loadItems = 10000;    // items in the branch "Load" (up to 100,000)
    int loadPeriodMs = 1000;  // how often the Load items change
    bool loadMixed = false;   // Load items of mixed shapes (arrays, nil, dates): AddressSpace
    std::size_t maxBodyBytes = 4 * 1024 * 1024;  // decoded, whatever the framing or encoding
    int threads = 64;  // concurrent connections (waiting polls hold one each)
    // How long a client may take: to send a request's line and headers, its body, to take a
    // reply; and how long a kept-alive connection may wait for its next request.
    int headTimeoutMs = 10000;
    int bodyTimeoutMs = 60000;
    int writeTimeoutMs = 30000;
    int idleTimeoutMs = 2000;
    // A subscription whose client gives no ping rate expires as if it had given this one (after
    // twice this time without a poll).
    int defaultPingRateMs = 60000;
    // Replies being built at once (0: one per processor, at least 2); a waiting poll does not
    // count. Building a large reply costs many times its size, so this bounds the peak memory.
    int concurrentBuilds = 0;
    // Bytes of replies handed to clients that have not taken them yet. A reply that would pass
    // this while others are in transit is answered with 503 instead (one reply always goes, and
    // every reply up to 64 KiB).
    std::size_t replyBytesInTransit = 64 * 1024 * 1024;
    std::size_t maxSubscriptions = 2000;  // live at once; beyond that Subscribe is refused
    Switches switches;
};

class Service {
  public:
    explicit Service(Options options = {});
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Binds and starts serving; throws std::runtime_error when the address cannot be bound.
    // Every start forgets all subscriptions: handles from an earlier run become invalid.
    void start();
    // Stops serving; waiting polls are answered at once, and a reply being written may take up to
    // the write time-out. Does nothing when not running.
    void stop();
    bool running() const;

    int port() const;         // the bound port (valid after start)
    std::string url() const;  // http://<host>:<port><path>
    std::string path() const;

    void setSwitches(const Switches& s);
    Switches switches() const;

    // Drops every subscription, as a service that lost its state would.
    void dropAllSubscriptions();
    std::size_t subscriptionCount() const;
    // Polls being held or waiting for a change right now (one per poll and handle).
    std::size_t pollsWaiting() const;
    std::size_t requestCount() const;  // SOAP requests handled since construction

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace velqor::xmldasim
