// Reading SOAP requests and writing SOAP replies with libxml2, independent of the client's SOAP
// layer so that a fault on one side is not mirrored on the other.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xmlda/Values.h"

namespace velqor::xmldasim {

inline constexpr const char* kOpcNs = "http://opcfoundation.org/webservices/XMLDA/1.0/";
inline constexpr const char* kSoap11Ns = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr const char* kSoap12Ns = "http://www.w3.org/2003/05/soap-envelope";
inline constexpr const char* kXsdNs = "http://www.w3.org/2001/XMLSchema";
inline constexpr const char* kXsiNs = "http://www.w3.org/2001/XMLSchema-instance";

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;

// A raised SOAP fault: `client` tells whether the sender (Client/Sender) or the service
// (Server/Receiver) is to blame; `opcCode` is an OPC result name such as "E_FAIL" or empty.
struct SoapFault {
    bool client = false;
    std::string opcCode;
    std::string text;
    bool bare = false;  // a Fault element without code or text
};

// A parsed request: the operation element is the first element child of the Body.
struct Request {
    DocPtr doc;
    xmlNode* op = nullptr;
    std::string opName;  // local name
    bool soap12 = false;
};

// Parses a request body; throws SoapFault when it is not a usable SOAP envelope. soap12 is set as
// soon as the envelope is known to be SOAP 1.2, so that a fault can answer in kind.
Request parseRequest(std::string_view body, bool* soap12 = nullptr);

// Request reading helpers. Element children are matched by local name in any namespace, so that
// unqualified children from lax peers are read too.
std::optional<std::string> attr(const xmlNode* n, const char* name);
std::string attrOr(const xmlNode* n, const char* name, const std::string& dflt = {});
bool boolAttr(const xmlNode* n, const char* name, bool dflt);
// Throws SoapFault (client) for a text that is not an integer.
std::optional<long long> intAttr(const xmlNode* n, const char* name);
std::optional<double> floatAttr(const xmlNode* n, const char* name);
std::optional<TimePoint> timeAttr(const xmlNode* n, const char* name);
std::vector<const xmlNode*> children(const xmlNode* n, const char* localName);
const xmlNode* child(const xmlNode* n, const char* localName);
std::string text(const xmlNode* n);

// Reads a `Value` element (xsi:type decides the type; no type means string). nullopt with
// resultId set when the content does not fit its declared type.
std::optional<Value> readValue(const xmlNode* valueElem, std::string* resultId);

struct ReplyStyle {
    bool prefixed = false;  // OPC elements as ns1:Name instead of a default namespace
    bool soap12 = false;
    std::string errorText;  // when set, the Text of every Errors entry
};

// An element of the reply being built.
using ReplyNode = std::size_t;

// Builds one reply envelope as text, without a DOM: elements, their attributes (in the order
// set) and texts are kept in a small table and written out once, escaped as XML requires.
class ReplyWriter {
  public:
    explicit ReplyWriter(ReplyStyle style);
    const ReplyStyle& style() const { return style_; }
    ReplyWriter(const ReplyWriter&) = delete;
    ReplyWriter& operator=(const ReplyWriter&) = delete;

    ReplyNode operation(const char* name);  // the response element, child of Body
    ReplyNode element(ReplyNode parent, const char* name, const std::string* textContent = nullptr);
    void attr(ReplyNode n, const char* name, const std::string& v);
    void xsiType(ReplyNode n, const std::string& qname);
    // The QName text of a name in the OPC namespace as this reply writes it.
    std::string opcQName(const std::string& local) const;
    // A typed `Value` (or other named) element holding v.
    ReplyNode value(ReplyNode parent, const char* name, const Value& v);
    void fault(const SoapFault& f);

    // Serialises as UTF-8 or, when utf16 is set, as UTF-16 with a byte order mark.
    std::string serialize(bool utf16) const;

  private:
    struct Element {
        std::string name;                         // as written, prefix included
        std::string attrs;                        // ' name="value"' each, escaped
        std::string text;                         // escaped
        ReplyNode first = 0, last = 0, next = 0;  // children and sibling; 0: none
    };
    ReplyNode add(ReplyNode parent, std::string name);
    void write(std::string& out, ReplyNode n) const;

    ReplyStyle style_;
    std::vector<Element> nodes_;  // [0]: the envelope
    ReplyNode body_ = 0;
};

}  // namespace velqor::xmldasim
