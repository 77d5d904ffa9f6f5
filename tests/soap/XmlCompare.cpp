#include "XmlCompare.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace velqor::test {

namespace {

std::string S(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }

std::string QName(const xmlNode* n) {
    return "{" + (n->ns ? S(n->ns->href) : "") + "}" + S(n->name);
}

bool Blank(const std::string& s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

std::map<std::string, std::string> Attrs(const xmlNode* n, const AttrFilter& filter) {
    std::map<std::string, std::string> out;
    for (const xmlAttr* a = n->properties; a; a = a->next) {
        xmlChar* v = xmlNodeListGetString(a->doc, a->children, 1);
        std::string value = S(v);
        xmlFree(v);
        if (filter && !filter(S(n->name), S(a->name), value)) continue;
        out["{" + (a->ns ? S(a->ns->href) : "") + "}" + S(a->name)] = value;
    }
    return out;
}

std::string Compare(const xmlNode* e, const xmlNode* a, const std::string& path,
                    const AttrFilter& f) {
    std::string here = path + "/" + S(e->name);
    if (QName(e) != QName(a))
        return here + ": element " + QName(e) + " expected, found " + QName(a);
    auto ea = Attrs(e, f), aa = Attrs(a, f);
    for (auto& [k, v] : ea) {
        auto it = aa.find(k);
        if (it == aa.end()) return here + ": attribute " + k + " missing";
        if (it->second != v)
            return here + ": attribute " + k + " is '" + it->second + "', expected '" + v + "'";
    }
    for (auto& [k, v] : aa)
        if (!ea.count(k)) return here + ": unexpected attribute " + k + "='" + v + "'";
    // An empty SOAP header says nothing; whitespace between elements neither.
    auto emptyHeader = [](const xmlNode* c) {
        if (S(c->name) != "Header" || !c->ns ||
            S(c->ns->href) != "http://schemas.xmlsoap.org/soap/envelope/")
            return false;
        for (const xmlNode* k = c->children; k; k = k->next)
            if (k->type == XML_ELEMENT_NODE || !Blank(S(k->content))) return false;
        return true;
    };
    auto next = [&](const xmlNode* c) {
        while (c && !((c->type == XML_ELEMENT_NODE && !emptyHeader(c)) ||
                      ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) &&
                       !Blank(S(c->content)))))
            c = c->next;
        return c;
    };
    const xmlNode* ec = next(e->children);
    const xmlNode* ac = next(a->children);
    int index = 0;
    while (ec && ac) {
        if (ec->type != XML_ELEMENT_NODE || ac->type != XML_ELEMENT_NODE) {
            if (ec->type != ac->type || S(ec->content) != S(ac->content))
                return here + ": text '" + S(ac->content) + "', expected '" + S(ec->content) + "'";
        } else {
            std::string d = Compare(ec, ac, here + "[" + std::to_string(index) + "]", f);
            if (!d.empty()) return d;
        }
        ec = next(ec->next);
        ac = next(ac->next);
        ++index;
    }
    if (ec)
        return here + ": missing child " +
               (ec->type == XML_ELEMENT_NODE ? QName(ec) : "text '" + S(ec->content) + "'");
    if (ac)
        return here + ": unexpected child " +
               (ac->type == XML_ELEMENT_NODE ? QName(ac) : "text '" + S(ac->content) + "'");
    return "";
}

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};

}  // namespace

std::string XmlDiff(std::string_view expected, std::string_view actual, const AttrFilter& filter) {
    std::unique_ptr<xmlDoc, DocFree> e(
        xmlReadMemory(expected.data(), int(expected.size()), nullptr, nullptr, XML_PARSE_NONET));
    std::unique_ptr<xmlDoc, DocFree> a(
        xmlReadMemory(actual.data(), int(actual.size()), nullptr, nullptr, XML_PARSE_NONET));
    if (!e) return "expected document is not well-formed";
    if (!a) return "actual document is not well-formed";
    return Compare(xmlDocGetRootElement(e.get()), xmlDocGetRootElement(a.get()), "", filter);
}

bool ReadFileText(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return true;
}

}  // namespace velqor::test
