#include "CannedService.h"

namespace velqor::test {

CannedService::CannedService(Responder responder) : responder_(std::move(responder)) {
    ClearProxyEnvironment();
    server_.Srv().Post("/opc/xmlda", [this](const httplib::Request& req, httplib::Response& res) {
        RecordedRequest r{req.get_header_value("SOAPAction"), req.get_header_value("Content-Type"),
                          req.body};
        std::string action = r.soapAction;
        if (!action.empty() && action.front() == '"') action = action.substr(1, action.size() - 2);
        const std::string op = action.substr(action.rfind('/') + 1);
        Responder respond;
        {
            std::lock_guard lock(mu_);
            requests_.push_back(std::move(r));
            respond = responder_;
        }
        CannedReply reply = respond(op);
        res.status = reply.status;
        if (!reply.wwwAuthenticate.empty())
            res.set_header("WWW-Authenticate", reply.wwwAuthenticate);
        res.set_content(reply.body, reply.contentType);
    });
    server_.Start();
}

std::vector<RecordedRequest> CannedService::Requests() const {
    std::lock_guard lock(mu_);
    return requests_;
}

RecordedRequest CannedService::LastRequest() const {
    std::lock_guard lock(mu_);
    return requests_.empty() ? RecordedRequest{} : requests_.back();
}

void CannedService::SetResponder(Responder responder) {
    std::lock_guard lock(mu_);
    responder_ = std::move(responder);
}

std::string Envelope(const std::string& bodyContent) {
    return R"(<?xml version="1.0" encoding="utf-8"?>)"
           R"(<soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/")"
           R"( xmlns:xsd="http://www.w3.org/2001/XMLSchema")"
           R"( xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"><soap:Body>)" +
           bodyContent + "</soap:Body></soap:Envelope>";
}

std::string FaultEnvelope(const std::string& code, const std::string& text) {
    return Envelope("<soap:Fault><faultcode>" + code + "</faultcode><faultstring>" + text +
                    "</faultstring></soap:Fault>");
}

std::string StatusReply(const std::string& replyTime, const std::string& serverStateAttr,
                        bool withResult, bool withStatus) {
    std::string s =
        R"(<GetStatusResponse xmlns="http://opcfoundation.org/webservices/XMLDA/1.0/">)";
    if (withResult)
        s += R"(<GetStatusResult RcvTime=")" + replyTime + R"(" ReplyTime=")" + replyTime + "\" " +
             serverStateAttr + "/>";
    if (withStatus)
        s += R"(<Status StartTime="2026-01-02T03:04:05Z" ProductVersion="9.8.7">)"
             "<StatusInfo>All fine</StatusInfo><VendorInfo>Canned vendor</VendorInfo></Status>";
    s += "</GetStatusResponse>";
    return Envelope(s);
}

}  // namespace velqor::test
