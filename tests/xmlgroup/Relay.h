// A recording relay between the client and xmlda-sim on loopback: every SOAP request is kept
// (operation and body) and forwarded to the service, unless a canned reply was set for its
// operation. The XML-DA group tests read what the client sent from here.
#pragma once

#include <httplib.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace velqor::xmlgrouptest {

struct Exchange {
    std::string Operation;  // the SOAPAction's last segment, e.g. "Subscribe"
    std::string Body;
};

class Relay {
  public:
    // Forwards to http://127.0.0.1:<targetPort><path>.
    Relay(int targetPort, std::string path);
    ~Relay();
    void Stop();

    std::string URL() const;

    // Requests seen so far, all or of one operation.
    std::vector<Exchange> Requests(const std::string& operation = {}) const;
    size_t Count(const std::string& operation) const { return Requests(operation).size(); }
    void Clear();

    // A reply body to give instead of forwarding; nullopt forwards. Called on server threads.
    using Canned = std::function<std::optional<std::string>(const Exchange&)>;
    void SetCanned(Canned canned);

  private:
    void Handle(const httplib::Request& req, httplib::Response& res);

    int targetPort_;
    std::string path_;
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mu_;
    std::vector<Exchange> requests_;
    Canned canned_;
};

// A SOAP 1.1 reply envelope around one operation element in the OPC XML-DA namespace.
std::string ReplyEnvelope(const std::string& op, const std::string& attrs,
                          const std::string& inner);
// How often text occurs in body.
size_t Occurrences(const std::string& body, const std::string& text);
// The value of the first attribute name="..." in body, or nullopt.
std::optional<std::string> Attribute(const std::string& body, const std::string& name);

}  // namespace velqor::xmlgrouptest
