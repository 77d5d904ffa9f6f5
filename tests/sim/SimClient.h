// Test helpers: a running xmlda-sim, hand-written SOAP requests over real loopback HTTP, and
// XPath look-ups into the replies.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>
#include <libxml/parser.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <memory>
#include <string>

#include "xmlda/XmlDaSim.h"

namespace simtest {

inline constexpr const char* kOpc = "http://opcfoundation.org/webservices/XMLDA/1.0/";

// A SOAP 1.1 envelope around one operation element written in the OPC namespace (default xmlns).
inline std::string envelope(const std::string& op, const std::string& attrs,
                            const std::string& inner = {}) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>"
           "<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><soap:Body><" +
           op + " xmlns=\"" + kOpc + "\" " + attrs + ">" + inner + "</" + op +
           "></soap:Body></soap:Envelope>";
}

struct Reply {
    int status = 0;
    std::string body;
    httplib::Headers headers;
    std::shared_ptr<xmlDoc> doc;  // null when the body is not XML

    std::string header(const char* name) const {
        auto it = headers.find(name);
        return it == headers.end() ? "" : it->second;
    }

    // Text of the first node an XPath selects ("" when none). Prefixes: o = OPC, s = SOAP 1.1,
    // e = SOAP 1.2, xsi.
    std::string str(const std::string& xpath) const {
        std::string out;
        eval(xpath, [&](xmlXPathObjectPtr r) {
            if (r->nodesetval && r->nodesetval->nodeNr > 0) {
                xmlChar* t = xmlNodeGetContent(r->nodesetval->nodeTab[0]);
                out = t ? reinterpret_cast<const char*>(t) : "";
                xmlFree(t);
            }
        });
        return out;
    }
    int count(const std::string& xpath) const {
        int n = 0;
        eval(xpath, [&](xmlXPathObjectPtr r) { n = r->nodesetval ? r->nodesetval->nodeNr : 0; });
        return n;
    }
    bool has(const std::string& xpath) const { return count(xpath) > 0; }

  private:
    template <class F>
    void eval(const std::string& xpath, F f) const {
        if (!doc) {
            ADD_FAILURE() << "reply is not XML: " << body.substr(0, 300);
            return;
        }
        xmlXPathContextPtr ctx = xmlXPathNewContext(doc.get());
        auto reg = [&](const char* p, const char* u) {
            xmlXPathRegisterNs(ctx, reinterpret_cast<const xmlChar*>(p),
                               reinterpret_cast<const xmlChar*>(u));
        };
        reg("o", kOpc);
        reg("s", "http://schemas.xmlsoap.org/soap/envelope/");
        reg("e", "http://www.w3.org/2003/05/soap-envelope");
        reg("xsi", "http://www.w3.org/2001/XMLSchema-instance");
        xmlXPathObjectPtr r =
            xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(xpath.c_str()), ctx);
        if (!r)
            ADD_FAILURE() << "bad xpath " << xpath;
        else
            f(r);
        xmlXPathFreeObject(r);
        xmlXPathFreeContext(ctx);
    }
};

inline Reply parseReply(int status, std::string body, httplib::Headers headers) {
    Reply r;
    r.status = status;
    r.body = std::move(body);
    r.headers = std::move(headers);
    xmlDoc* d = xmlReadMemory(r.body.data(), static_cast<int>(r.body.size()), "reply.xml", nullptr,
                              XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (d) r.doc.reset(d, xmlFreeDoc);
    return r;
}

// Posts a request body; fails the test when there is no HTTP answer at all.
inline Reply post(const std::string& url, const std::string& body,
                  const std::string& contentType = "text/xml; charset=\"utf-8\"",
                  const httplib::Headers& extra = {}) {
    auto slash = url.find('/', 7);
    httplib::Client cli(url.substr(0, slash));
    cli.set_read_timeout(120, 0);
    auto res = cli.Post(url.substr(slash).c_str(), extra, body, contentType.c_str());
    if (!res) {
        ADD_FAILURE() << "no HTTP answer: " << httplib::to_string(res.error());
        return {};
    }
    return parseReply(res->status, res->body, res->headers);
}

// Each test gets its own service on a free port.
class SimTest : public ::testing::Test {
  protected:
    static velqor::xmldasim::Options defaults() {
        velqor::xmldasim::Options o;
        o.clockPeriodMs = 100;
        return o;
    }
    void SetUp() override { start(defaults()); }
    void start(velqor::xmldasim::Options o) {
        sim = std::make_unique<velqor::xmldasim::Service>(std::move(o));
        sim->start();
        url = sim->url();
    }
    Reply call(const std::string& op, const std::string& attrs, const std::string& inner = {}) {
        return post(url, envelope(op, attrs, inner));
    }
    std::unique_ptr<velqor::xmldasim::Service> sim;
    std::string url;
};

}  // namespace simtest
