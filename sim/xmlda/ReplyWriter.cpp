// The simulation service's reply writer: SOAP envelopes written as text straight away.
#include <cstdint>

#include "xmlda/SoapIo.h"

namespace velqor::xmldasim {
namespace {

// Markup characters as references; in an attribute value also the quote and the white space
// a reader would fold.
void escape(std::string& out, std::string_view v, bool attribute) {
    for (char ch : v) {
        const char* ref = nullptr;
        switch (ch) {
            case '&':
                ref = "&amp;";
                break;
            case '<':
                ref = "&lt;";
                break;
            case '>':
                ref = "&gt;";
                break;
            case '\r':
                ref = "&#13;";
                break;
            case '"':
                ref = attribute ? "&quot;" : nullptr;
                break;
            case '\n':
                ref = attribute ? "&#10;" : nullptr;
                break;
            case '\t':
                ref = attribute ? "&#9;" : nullptr;
                break;
            default:
                break;
        }
        if (ref)
            out += ref;
        else
            out += ch;
    }
}

void escapeText(std::string& out, std::string_view v) { escape(out, v, false); }
void escapeAttr(std::string& out, std::string_view v) { escape(out, v, true); }

void addAttr(std::string& attrs, std::string_view name, std::string_view value) {
    attrs += ' ';
    attrs += name;
    attrs += "=\"";
    escapeAttr(attrs, value);
    attrs += '"';
}

// UTF-8 to UTF-16 (little endian) with a byte order mark.
std::string toUtf16(std::string_view in) {
    std::string out("\xFF\xFE", 2);
    out.reserve(2 + in.size() * 2);
    auto unit = [&](std::uint32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (std::size_t i = 0; i < in.size();) {
        const auto b = static_cast<unsigned char>(in[i]);
        std::uint32_t cp = b;
        std::size_t n = 1;
        if (b >= 0xF0 && i + 3 < in.size()) {
            cp = (b & 0x07u) << 18 | (static_cast<unsigned char>(in[i + 1]) & 0x3Fu) << 12 |
                 (static_cast<unsigned char>(in[i + 2]) & 0x3Fu) << 6 |
                 (static_cast<unsigned char>(in[i + 3]) & 0x3Fu);
            n = 4;
        } else if (b >= 0xE0 && i + 2 < in.size()) {
            cp = (b & 0x0Fu) << 12 | (static_cast<unsigned char>(in[i + 1]) & 0x3Fu) << 6 |
                 (static_cast<unsigned char>(in[i + 2]) & 0x3Fu);
            n = 3;
        } else if (b >= 0xC0 && i + 1 < in.size()) {
            cp = (b & 0x1Fu) << 6 | (static_cast<unsigned char>(in[i + 1]) & 0x3Fu);
            n = 2;
        }
        i += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            unit(0xD800 | (cp >> 10));
            unit(0xDC00 | (cp & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return out;
}

}  // namespace

ReplyWriter::ReplyWriter(ReplyStyle style) : style_(std::move(style)) {
    nodes_.reserve(64);
    nodes_.push_back({"soap:Envelope", {}, {}, 0, 0, 0});
    std::string& a = nodes_[0].attrs;
    addAttr(a, "xmlns:soap", style_.soap12 ? kSoap12Ns : kSoap11Ns);
    addAttr(a, "xmlns:xsd", kXsdNs);
    addAttr(a, "xmlns:xsi", kXsiNs);
    if (style_.prefixed) addAttr(a, "xmlns:ns1", kOpcNs);
    body_ = add(0, "soap:Body");
}

ReplyNode ReplyWriter::add(ReplyNode parent, std::string name) {
    const ReplyNode n = nodes_.size();
    nodes_.push_back({std::move(name), {}, {}, 0, 0, 0});
    Element& p = nodes_[parent];
    if (p.last)
        nodes_[p.last].next = n;
    else
        p.first = n;
    p.last = n;
    return n;
}

ReplyNode ReplyWriter::operation(const char* name) {
    const ReplyNode op = add(body_, opcQName(name));
    if (!style_.prefixed) addAttr(nodes_[op].attrs, "xmlns", kOpcNs);
    return op;
}

ReplyNode ReplyWriter::element(ReplyNode parent, const char* name, const std::string* textContent) {
    const ReplyNode n = add(parent, opcQName(name));
    if (textContent) escapeText(nodes_[n].text, *textContent);
    return n;
}

void ReplyWriter::attr(ReplyNode n, const char* name, const std::string& v) {
    // Setting an attribute again replaces its value (values never hold a bare '"').
    // Escaped values hold no '"', so ' name="' can only start an attribute.
    std::string& attrs = nodes_[n].attrs;
    const std::string_view key(name);
    for (std::size_t at = attrs.find(key); at != std::string::npos; at = attrs.find(key, at + 1)) {
        const std::size_t open = at + key.size();
        if (at > 0 && attrs[at - 1] == ' ' && attrs.compare(open, 2, "=\"") == 0) {
            attrs.erase(at - 1, attrs.find('"', open + 2) + 1 - (at - 1));
            break;
        }
    }
    addAttr(attrs, name, v);
}

void ReplyWriter::xsiType(ReplyNode n, const std::string& qname) {
    addAttr(nodes_[n].attrs, "xsi:type", qname);
}

std::string ReplyWriter::opcQName(const std::string& local) const {
    return style_.prefixed ? "ns1:" + local : local;
}

ReplyNode ReplyWriter::value(ReplyNode parent, const char* name, const Value& v) {
    const ReplyNode n = element(parent, name);
    xsiType(n,
            isXsdType(v.type) ? "xsd:" + typeLocalName(v.type) : opcQName(typeLocalName(v.type)));
    if (!v.type.array) {
        if (v.elems.empty())
            addAttr(nodes_[n].attrs, "xsi:nil", "true");
        else
            escapeText(nodes_[n].text, scalarText(v.type.kind, v.elems.front()));
        return n;
    }
    const std::string elemName = arrayElementName(v.type.kind);
    for (const auto& e : v.elems) {
        const std::string t = scalarText(v.type.kind, e);
        element(n, elemName.c_str(), &t);
    }
    return n;
}

void ReplyWriter::fault(const SoapFault& f) {
    const ReplyNode fault = add(body_, "soap:Fault");
    const char* opcPrefix = style_.prefixed ? "ns1" : "opc";
    if (!style_.prefixed) addAttr(nodes_[fault].attrs, "xmlns:opc", kOpcNs);
    if (f.bare) return;
    const std::string opcCode = f.opcCode.empty() ? "" : std::string(opcPrefix) + ":" + f.opcCode;
    if (!style_.soap12) {
        // SOAP 1.1 fault children are unqualified.
        const std::string code =
            opcCode.empty() ? std::string("soap:") + (f.client ? "Client" : "Server") : opcCode;
        escapeText(nodes_[add(fault, "faultcode")].text, code);
        escapeText(nodes_[add(fault, "faultstring")].text, f.text);
        return;
    }
    const ReplyNode code = add(fault, "soap:Code");
    escapeText(nodes_[add(code, "soap:Value")].text, f.client ? "soap:Sender" : "soap:Receiver");
    if (!opcCode.empty()) {
        const ReplyNode sub = add(code, "soap:Subcode");
        escapeText(nodes_[add(sub, "soap:Value")].text, opcCode);
    }
    const ReplyNode reason = add(fault, "soap:Reason");
    const ReplyNode t = add(reason, "soap:Text");
    addAttr(nodes_[t].attrs, "xml:lang", "en");
    escapeText(nodes_[t].text, f.text);
}

void ReplyWriter::write(std::string& out, ReplyNode n) const {
    const Element& e = nodes_[n];
    out += '<';
    out += e.name;
    out += e.attrs;
    if (e.text.empty() && !e.first) {
        out += "/>";
        return;
    }
    out += '>';
    out += e.text;
    for (ReplyNode c = e.first; c; c = nodes_[c].next) write(out, c);
    out += "</";
    out += e.name;
    out += '>';
}

std::string ReplyWriter::serialize(bool utf16) const {
    std::string out;
    std::size_t estimate = 64;
    for (const Element& e : nodes_)
        estimate += 2 * e.name.size() + e.attrs.size() + e.text.size() + 5;
    out.reserve(estimate);
    out += utf16 ? "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
                 : "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    write(out, 0);
    out += '\n';
    return utf16 ? toUtf16(out) : out;
}

}  // namespace velqor::xmldasim
