#include "xmlda/SoapIo.h"

#include <libxml/parser.h>

#include <cstring>

#include "xmlguard/VelqorXmlGuard.h"

namespace velqor::xmldasim {
namespace {

const char* cs(const xmlChar* s) { return reinterpret_cast<const char*>(s); }
const xmlChar* xs(const char* s) { return reinterpret_cast<const xmlChar*>(s); }

bool isElement(const xmlNode* n, const char* local) {
    return n && n->type == XML_ELEMENT_NODE && std::strcmp(cs(n->name), local) == 0;
}
bool inNs(const xmlNode* n, const char* uri) {
    return n->ns && n->ns->href && std::strcmp(cs(n->ns->href), uri) == 0;
}
const xmlNode* firstElement(const xmlNode* n) {
    for (const xmlNode* c = n ? n->children : nullptr; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE) return c;
    return nullptr;
}

constexpr char kDoctypeRefused[] = "Document type declarations are not accepted.";

SoapFault clientFault(std::string text) { return SoapFault{true, "", std::move(text)}; }

}  // namespace

Request parseRequest(std::string_view body, bool* soap12) {
    if (body.empty()) throw clientFault("The request has no body.");
    // Refused before parsing: markup that would cost the parser far more than its size.
    if (const auto scan = xmlguard::ScanMarkup(body); !scan.ok) {
        if (scan.kind == xmlguard::TRefusal::DocumentType) throw clientFault(kDoctypeRefused);
        throw clientFault("The request is refused: " + scan.reason + ".");
    }
    xmlDoc* raw = xmlReadMemory(body.data(), static_cast<int>(body.size()), "request.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!raw) throw clientFault("The request is not well-formed XML.");
    Request r;
    r.doc.reset(raw);
    if (raw->intSubset || raw->extSubset) throw clientFault(kDoctypeRefused);
    xmlNode* env = xmlDocGetRootElement(raw);
    if (!isElement(env, "Envelope")) throw clientFault("The request is not a SOAP envelope.");
    r.soap12 = inNs(env, kSoap12Ns);
    if (!r.soap12 && !inNs(env, kSoap11Ns)) throw clientFault("Unknown SOAP envelope namespace.");
    if (soap12) *soap12 = r.soap12;
    const xmlNode* bodyElem = nullptr;
    for (const xmlNode* c = env->children; c; c = c->next)
        if (isElement(c, "Body") && inNs(c, r.soap12 ? kSoap12Ns : kSoap11Ns)) bodyElem = c;
    if (!bodyElem) throw clientFault("The SOAP envelope has no Body.");
    const xmlNode* op = firstElement(bodyElem);
    if (!op) throw clientFault("The SOAP Body is empty.");
    if (!inNs(op, kOpcNs))
        throw clientFault(std::string("The element ") + cs(op->name) +
                          " is not in the OPC XML-DA 1.0 namespace.");
    r.op = const_cast<xmlNode*>(op);
    r.opName = cs(op->name);
    return r;
}

std::optional<std::string> attr(const xmlNode* n, const char* name) {
    if (!n) return std::nullopt;
    for (const xmlAttr* a = n->properties; a; a = a->next) {
        if (a->ns == nullptr && std::strcmp(cs(a->name), name) == 0) {
            xmlChar* v = xmlNodeListGetString(n->doc, a->children, 1);
            std::string s = v ? cs(v) : "";
            xmlFree(v);
            return s;
        }
    }
    return std::nullopt;
}

std::string attrOr(const xmlNode* n, const char* name, const std::string& dflt) {
    auto a = attr(n, name);
    return a ? *a : dflt;
}

bool boolAttr(const xmlNode* n, const char* name, bool dflt) {
    auto a = attr(n, name);
    if (!a) return dflt;
    if (*a == "true" || *a == "1") return true;
    if (*a == "false" || *a == "0") return false;
    throw clientFault(std::string("Attribute ") + name + " is not a boolean: " + *a);
}

std::optional<long long> intAttr(const xmlNode* n, const char* name) {
    auto a = attr(n, name);
    if (!a || a->empty()) return std::nullopt;
    auto v = parseScalar(Kind::Int, *a);
    if (!v) throw clientFault(std::string("Attribute ") + name + " is not an int: " + *a);
    return std::get<std::int64_t>(*v);
}

std::optional<double> floatAttr(const xmlNode* n, const char* name) {
    auto a = attr(n, name);
    if (!a || a->empty()) return std::nullopt;
    auto v = parseScalar(Kind::Double, *a);
    if (!v) throw clientFault(std::string("Attribute ") + name + " is not a number: " + *a);
    return std::get<double>(*v);
}

std::optional<TimePoint> timeAttr(const xmlNode* n, const char* name) {
    auto a = attr(n, name);
    if (!a || a->empty()) return std::nullopt;
    auto t = parseDateTime(*a);
    if (!t) throw clientFault(std::string("Attribute ") + name + " is not a dateTime: " + *a);
    return t;
}

std::vector<const xmlNode*> children(const xmlNode* n, const char* localName) {
    std::vector<const xmlNode*> out;
    for (const xmlNode* c = n ? n->children : nullptr; c; c = c->next)
        if (isElement(c, localName)) out.push_back(c);
    return out;
}

const xmlNode* child(const xmlNode* n, const char* localName) {
    for (const xmlNode* c = n ? n->children : nullptr; c; c = c->next)
        if (isElement(c, localName)) return c;
    return nullptr;
}

std::string text(const xmlNode* n) {
    if (!n) return {};
    xmlChar* v = xmlNodeGetContent(n);
    std::string s = v ? cs(v) : "";
    xmlFree(v);
    return s;
}

std::optional<Value> readValue(const xmlNode* e, std::string* resultId) {
    xmlChar* t = xmlGetNsProp(e, xs("type"), xs(kXsiNs));
    std::string typeName = t ? cs(t) : "";
    xmlFree(t);
    DataType type{Kind::String, false};
    if (!typeName.empty()) {
        auto dt = typeFromName(typeName);
        if (!dt || dt->kind == Kind::AnyType) {
            *resultId = "E_BADTYPE";
            return std::nullopt;
        }
        type = *dt;
    }
    Value v{type, {}};
    bool range = false;
    if (!type.array) {
        auto s = parseScalar(type.kind, text(e), &range);
        if (!s) {
            *resultId = range ? "E_RANGE" : "E_BADTYPE";
            return std::nullopt;
        }
        v.elems.push_back(std::move(*s));
        return v;
    }
    std::string elemName = arrayElementName(type.kind);
    for (const xmlNode* c = e->children; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        if (elemName != cs(c->name)) {
            *resultId = "E_BADTYPE";
            return std::nullopt;
        }
        auto s = parseScalar(type.kind, text(c), &range);
        if (!s) {
            *resultId = range ? "E_RANGE" : "E_BADTYPE";
            return std::nullopt;
        }
        v.elems.push_back(std::move(*s));
    }
    return v;
}

}  // namespace velqor::xmldasim
