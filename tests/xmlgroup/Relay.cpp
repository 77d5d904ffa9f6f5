#include "Relay.h"

#include <chrono>
#include <stdexcept>

#include "support/WaitUntil.h"

namespace velqor::xmlgrouptest {

Relay::Relay(int targetPort, std::string path) : targetPort_(targetPort), path_(std::move(path)) {
    server_.new_task_queue = [] { return new httplib::ThreadPool(32); };
    server_.Post(path_,
                 [this](const httplib::Request& req, httplib::Response& res) { Handle(req, res); });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    if (!test::WaitUntil([this] { return server_.is_running(); }))
        throw std::runtime_error("the relay did not start");
}

Relay::~Relay() { Stop(); }

void Relay::Stop() {
    if (!thread_.joinable()) return;
    server_.stop();
    thread_.join();
}

std::string Relay::URL() const { return "http://127.0.0.1:" + std::to_string(port_) + path_; }

std::vector<Exchange> Relay::Requests(const std::string& operation) const {
    std::lock_guard lock(mu_);
    if (operation.empty()) return requests_;
    std::vector<Exchange> out;
    for (const auto& e : requests_)
        if (e.Operation == operation) out.push_back(e);
    return out;
}

void Relay::Clear() {
    std::lock_guard lock(mu_);
    requests_.clear();
}

void Relay::SetCanned(Canned canned) {
    std::lock_guard lock(mu_);
    canned_ = std::move(canned);
}

void Relay::Handle(const httplib::Request& req, httplib::Response& res) {
    Exchange e;
    std::string action = req.get_header_value("SOAPAction");
    while (!action.empty() && action.back() == '"') action.pop_back();
    e.Operation = action.substr(action.find_last_of('/') + 1);
    e.Body = req.body;
    Canned canned;
    {
        std::lock_guard lock(mu_);
        requests_.push_back(e);
        canned = canned_;
    }
    if (canned) {
        if (auto body = canned(e)) {
            res.set_content(*body, "text/xml; charset=utf-8");
            return;
        }
    }
    httplib::Client client("127.0.0.1", targetPort_);
    client.set_read_timeout(300, 0);
    httplib::Headers headers;
    for (const char* h : {"SOAPAction", "Authorization"})
        if (req.has_header(h)) headers.emplace(h, req.get_header_value(h));
    auto r = client.Post(path_, headers, req.body, req.get_header_value("Content-Type"));
    if (!r) {
        res.status = 502;
        return;
    }
    res.status = r->status;
    res.set_content(r->body, r->get_header_value("Content-Type"));
}

std::string ReplyEnvelope(const std::string& op, const std::string& attrs,
                          const std::string& inner) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
           "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><soap:Body><" +
           op + " xmlns=\"http://opcfoundation.org/webservices/XMLDA/1.0/\" " + attrs + ">" +
           inner + "</" + op + "></soap:Body></soap:Envelope>";
}

size_t Occurrences(const std::string& body, const std::string& text) {
    size_t n = 0;
    for (size_t at = body.find(text); at != std::string::npos;
         at = body.find(text, at + text.size()))
        ++n;
    return n;
}

std::optional<std::string> Attribute(const std::string& body, const std::string& name) {
    const std::string key = " " + name + "=\"";
    size_t at = body.find(key);
    if (at == std::string::npos) return std::nullopt;
    at += key.size();
    return body.substr(at, body.find('"', at) - at);
}

}  // namespace velqor::xmlgrouptest
