#include "soap/dom/VelqorDom.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include "soap/dom/LibxmlParse.h"
#include "xmlguard/VelqorXmlGuard.h"

namespace velqor::dom {

namespace {

const xmlChar* X(const char* s) { return reinterpret_cast<const xmlChar*>(s); }
const char* C(const xmlChar* s) { return reinterpret_cast<const char*>(s); }

std::string_view View(const xmlChar* s) { return s ? std::string_view(C(s)) : std::string_view(); }

// NUL-terminated copies for libxml2 calls; names and values are short, values may be long.
std::string Z(std::string_view s) { return std::string(s); }

std::string_view Checked(std::string_view s) {
    CheckXmlText(s);
    return s;
}

bool IsTextNode(const xmlNode* n) {
    return n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE;
}

// Attribute value without copying when it is one text node (always so for parsed documents
// without entity references).
bool AttrValue(const xmlAttr* a, std::string_view& value, std::string& scratch) {
    const xmlNode* c = a->children;
    if (!c) {
        value = {};
    } else if (!c->next && IsTextNode(c)) {
        value = View(c->content);
    } else {
        xmlChar* s = xmlNodeListGetString(a->doc, a->children, 1);
        scratch = s ? C(s) : "";
        xmlFree(s);
        value = scratch;
    }
    return true;
}

constexpr char kDoctypeRefused[] =
    "XML documents with a document type declaration are not accepted";

using detail::EnsureLibxml;

struct LoadState {
    bool dtdSeen = false;
};

void RefuseInternalSubset(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    static_cast<LoadState*>(detail::ChecksOf(ctxt).owner)->dtdSeen = true;
    xmlStopParser(ctxt);
}

// The tree builder's element handlers, with the depth counted.
void StartElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri,
                  int nbNamespaces, const xmlChar** namespaces, int nbAttributes, int nbDefaulted,
                  const xmlChar** attributes) {
    if (!detail::EnterElement(static_cast<xmlParserCtxtPtr>(ctx))) return;
    xmlSAX2StartElementNs(ctx, localname, prefix, uri, nbNamespaces, namespaces, nbAttributes,
                          nbDefaulted, attributes);
}

void EndElement(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri) {
    detail::LeaveElement(static_cast<xmlParserCtxtPtr>(ctx));
    xmlSAX2EndElementNs(ctx, localname, prefix, uri);
}

struct CtxtGuard {
    xmlParserCtxtPtr p;
    ~CtxtGuard() { xmlFreeParserCtxt(p); }
};

}  // namespace

void CheckXmlText(std::string_view s) {
    for (unsigned char c : s) {
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            char buf[96];
            std::snprintf(buf, sizeof buf,
                          "XML DOM: the text holds the character U+%04X, which XML cannot carry",
                          unsigned(c));
            throw Exception(buf);
        }
    }
}

// ---- XmlNode ---------------------------------------------------------------------------------

NodeType XmlNode::Type() const {
    if (n_->type == XML_ELEMENT_NODE) return NodeType::Element;
    if (IsTextNode(n_)) return NodeType::Text;
    return NodeType::Other;
}

bool XmlNode::IsElement() const { return n_ && n_->type == XML_ELEMENT_NODE; }

std::string XmlNode::Name() const {
    if (n_->type != XML_ELEMENT_NODE) return std::string(LocalName());
    std::string out;
    if (n_->ns && n_->ns->prefix) {
        out = C(n_->ns->prefix);
        out += ':';
    }
    out += C(n_->name);
    return out;
}

std::string_view XmlNode::LocalName() const {
    if (n_->type != XML_ELEMENT_NODE && n_->type != XML_ATTRIBUTE_NODE) return {};
    return View(n_->name);
}

std::string_view XmlNode::NamespaceURI() const {
    if (n_->type != XML_ELEMENT_NODE || !n_->ns) return {};
    return View(n_->ns->href);
}

XmlNode XmlNode::FirstChild() const { return XmlNode(n_->children); }
XmlNode XmlNode::NextSibling() const { return XmlNode(n_->next); }

size_t XmlNode::ChildCount() const {
    size_t k = 0;
    for (xmlNode* c = n_->children; c; c = c->next) ++k;
    return k;
}

XmlNode XmlNode::Child(size_t index) const {
    xmlNode* c = n_->children;
    while (c && index--) c = c->next;
    return XmlNode(c);
}

bool XmlNode::HasChildNodes() const { return n_->children != nullptr; }

size_t XmlNode::ElementChildCount() const {
    size_t k = 0;
    for (xmlNode* c = n_->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE) ++k;
    return k;
}

std::string XmlNode::Text() const {
    std::string scratch;
    return std::string(TextView(scratch));
}

std::string_view XmlNode::TextView(std::string& scratch) const {
    if (IsTextNode(n_)) return View(n_->content);
    xmlNode* c = n_->children;
    if (!c) return {};
    if (!c->next && IsTextNode(c)) return View(c->content);
    xmlChar* s = xmlNodeGetContent(n_);
    scratch = s ? C(s) : "";
    xmlFree(s);
    return scratch;
}

bool XmlNode::Attribute(std::string_view name, std::string_view& value,
                        std::string& scratch) const {
    if (n_->type != XML_ELEMENT_NODE) return false;
    for (const xmlAttr* a = n_->properties; a; a = a->next)
        if (!a->ns && View(a->name) == name) return AttrValue(a, value, scratch);
    return false;
}

bool XmlNode::AttributeNS(std::string_view name, std::string_view nsUri, std::string_view& value,
                          std::string& scratch) const {
    if (n_->type != XML_ELEMENT_NODE) return false;
    for (const xmlAttr* a = n_->properties; a; a = a->next)
        if (a->ns && View(a->name) == name && View(a->ns->href) == nsUri)
            return AttrValue(a, value, scratch);
    return false;
}

bool XmlNode::HasAttribute(std::string_view name) const {
    std::string_view v;
    std::string s;
    return Attribute(name, v, s);
}

std::string XmlNode::Attribute(std::string_view name) const {
    std::string_view v;
    std::string s;
    return Attribute(name, v, s) ? std::string(v) : std::string();
}

std::string XmlNode::AttributeNS(std::string_view name, std::string_view nsUri) const {
    std::string_view v;
    std::string s;
    return AttributeNS(name, nsUri, v, s) ? std::string(v) : std::string();
}

XmlNode XmlNode::AddElement(std::string_view qname, std::string_view nsUri) {
    std::string_view prefix, local = qname;
    if (auto p = qname.find(':'); p != std::string_view::npos) {
        prefix = qname.substr(0, p);
        local = qname.substr(p + 1);
    }
    xmlNode* el = xmlNewDocNode(n_->doc, nullptr, X(Z(local).c_str()), nullptr);
    if (!el) throw Exception("XML DOM: cannot create element " + std::string(qname));
    xmlAddChild(n_, el);
    std::string uri = Z(nsUri);
    if (!prefix.empty()) {
        xmlNs* ns = xmlSearchNs(n_->doc, el, X(Z(prefix).c_str()));
        if (!ns || (!uri.empty() && View(ns->href) != nsUri))
            ns = xmlNewNs(el, X(uri.c_str()), X(Z(prefix).c_str()));
        xmlSetNs(el, ns);
    } else {
        xmlNs* def = xmlSearchNs(n_->doc, el, nullptr);
        if (uri.empty() || (def && View(def->href) == nsUri)) {
            if (def) xmlSetNs(el, def);
        } else {
            xmlSetNs(el, xmlNewNs(el, X(uri.c_str()), nullptr));
        }
    }
    return XmlNode(el);
}

void XmlNode::DeclareNamespace(std::string_view prefix, std::string_view uri) {
    xmlNewNs(n_, X(Z(uri).c_str()), prefix.empty() ? nullptr : X(Z(prefix).c_str()));
}

void XmlNode::SetAttribute(std::string_view name, std::string_view value) {
    xmlSetProp(n_, X(Z(name).c_str()), X(Z(Checked(value)).c_str()));
}

void XmlNode::SetAttributeNS(std::string_view prefix, std::string_view nsUri, std::string_view name,
                             std::string_view value) {
    std::string uri = Z(nsUri);
    xmlNs* ns = xmlSearchNsByHref(n_->doc, n_, X(uri.c_str()));
    if (!ns) ns = xmlNewNs(n_, X(uri.c_str()), X(Z(prefix).c_str()));
    xmlSetNsProp(n_, ns, X(Z(name).c_str()), X(Z(Checked(value)).c_str()));
}

void XmlNode::SetText(std::string_view text) {
    while (xmlNode* c = n_->children) {
        xmlUnlinkNode(c);
        xmlFreeNode(c);
    }
    if (text.empty()) return;
    if (text.size() > size_t(INT_MAX)) throw Exception("XML DOM: text too long");
    Checked(text);
    xmlAddChild(n_, xmlNewDocTextLen(n_->doc, X(text.data()), int(text.size())));
}

// ---- XmlDocument -----------------------------------------------------------------------------

XmlDocument::XmlDocument() : doc_((EnsureLibxml(), xmlNewDoc(X("1.0")))) {
    if (!doc_) throw Exception("XML DOM: cannot create document");
    doc_->encoding = xmlStrdup(X("utf-8"));
}

XmlDocument::~XmlDocument() {
    if (doc_) xmlFreeDoc(doc_);
}

XmlDocument::XmlDocument(XmlDocument&& o) noexcept : doc_(std::exchange(o.doc_, nullptr)) {}

XmlDocument& XmlDocument::operator=(XmlDocument&& o) noexcept {
    std::swap(doc_, o.doc_);
    return *this;
}

XmlDocument XmlDocument::Load(std::string_view bytes) {
    if (bytes.size() > size_t(INT_MAX)) throw EXmlParseError("XML document too large", 0, 0);
    // Refused before parsing: markup that would cost the parser far more than its size.
    if (const auto scan = xmlguard::ScanMarkup(bytes); !scan.ok) {
        if (scan.kind == xmlguard::TRefusal::DocumentType)
            throw EXmlParseError(kDoctypeRefused, 0, 0);
        throw EXmlParseError(
            "XML document refused at byte " + std::to_string(scan.offset) + ": " + scan.reason, 0,
            0);
    }
    EnsureLibxml();
    CtxtGuard g{xmlNewParserCtxt()};
    if (!g.p) throw Exception("XML DOM: cannot create parser");
    LoadState state;
    detail::ParseChecks checks;
    checks.owner = &state;
    detail::WatchErrors(g.p, checks);
    g.p->sax->internalSubset = &RefuseInternalSubset;
    g.p->sax->startElementNs = &StartElement;
    g.p->sax->endElementNs = &EndElement;
    xmlDoc* doc = xmlCtxtReadMemory(g.p, bytes.data(), int(bytes.size()), nullptr, nullptr,
                                    detail::ParseOptions());
    if (state.dtdSeen) {
        if (doc) xmlFreeDoc(doc);
        throw EXmlParseError(kDoctypeRefused, g.p->input ? g.p->input->line : 0, 0);
    }
    if (const std::string why = detail::Refusal(checks); !why.empty()) {
        if (doc) xmlFreeDoc(doc);
        throw EXmlParseError("XML document refused at line " + std::to_string(checks.line) +
                                 ", column " + std::to_string(checks.column) + ": " + why,
                             checks.line, checks.column);
    }
    if (!doc || !g.p->wellFormed) {
        if (doc) xmlFreeDoc(doc);
        const xmlError& e = g.p->lastError;
        std::string msg = e.message ? e.message : "XML document is not well-formed";
        while (!msg.empty() && (msg.back() == '\n' || msg.back() == '\r')) msg.pop_back();
        throw EXmlParseError("XML parse error at line " + std::to_string(e.line) + ", column " +
                                 std::to_string(e.int2) + ": " + msg,
                             e.line, e.int2);
    }
    return XmlDocument(doc);
}

XmlNode XmlDocument::DocumentElement() const { return XmlNode(xmlDocGetRootElement(doc_)); }

XmlNode XmlDocument::CreateDocumentElement(std::string_view qname, std::string_view nsUri) {
    std::string_view prefix, local = qname;
    if (auto p = qname.find(':'); p != std::string_view::npos) {
        prefix = qname.substr(0, p);
        local = qname.substr(p + 1);
    }
    xmlNode* el = xmlNewDocNode(doc_, nullptr, X(Z(local).c_str()), nullptr);
    if (!el) throw Exception("XML DOM: cannot create element " + std::string(qname));
    if (xmlNode* old = xmlDocSetRootElement(doc_, el)) xmlFreeNode(old);
    if (!nsUri.empty())
        xmlSetNs(
            el, xmlNewNs(el, X(Z(nsUri).c_str()), prefix.empty() ? nullptr : X(Z(prefix).c_str())));
    return XmlNode(el);
}

std::string XmlDocument::Save() const {
    xmlChar* mem = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc_, &mem, &size, "utf-8", 0);
    if (!mem) throw Exception("XML DOM: cannot save document");
    std::string out(C(mem), size_t(size));
    xmlFree(mem);
    return out;
}

}  // namespace velqor::dom
