// A loopback web service with canned SOAP replies, for reply shapes that xmlda-sim never sends.
// Each request is recorded (SOAPAction header and body); the reply comes from a function of the
// operation name.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "http/LoopbackServers.h"

namespace velqor::test {

struct CannedReply {
    CannedReply(int s = 200, std::string b = {}, std::string type = "text/xml; charset=utf-8",
                std::string authenticate = {})
        : status(s),
          body(std::move(b)),
          contentType(std::move(type)),
          wwwAuthenticate(std::move(authenticate)) {}
    int status;
    std::string body;
    std::string contentType;
    std::string wwwAuthenticate;  // sent with a 401
};

struct RecordedRequest {
    std::string soapAction;
    std::string contentType;
    std::string body;
};

class CannedService {
  public:
    using Responder = std::function<CannedReply(const std::string& operation)>;

    explicit CannedService(Responder responder);
    std::string URL() const { return server_.URL("/opc/xmlda"); }
    int Port() const { return server_.Port(); }

    std::vector<RecordedRequest> Requests() const;
    RecordedRequest LastRequest() const;
    void SetResponder(Responder responder);

  private:
    mutable std::mutex mu_;
    Responder responder_;
    std::vector<RecordedRequest> requests_;
    HttpServer server_;  // last: stopped, its handlers ended, before what they use goes
};

// A SOAP 1.1 envelope around the given body content.
std::string Envelope(const std::string& bodyContent);
// A SOAP 1.1 fault envelope.
std::string FaultEnvelope(const std::string& code, const std::string& text);
// A GetStatusResponse: serverStateAttr is the whole attribute text (e.g. ServerState="test"),
// or empty for none.
std::string StatusReply(const std::string& replyTime, const std::string& serverStateAttr,
                        bool withResult = true, bool withStatus = true);

}  // namespace velqor::test
