#include "soap/dom/VelqorXmlEvents.h"

#include <libxml/parser.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>
#include <vector>

#include "soap/dom/LibxmlParse.h"
#include "xmlguard/VelqorXmlGuard.h"

namespace velqor::dom {

namespace {

std::string_view View(const xmlChar* s) {
    return s ? std::string_view(reinterpret_cast<const char*>(s)) : std::string_view();
}

struct Session {
    Session(XmlEventHandler& h, xmlParserCtxtPtr c) : handler(h), ctxt(c) {}
    XmlEventHandler& handler;
    xmlParserCtxtPtr ctxt;
    bool stopped = false;
    bool refused = false;
    std::exception_ptr error;
    std::vector<XmlAttributeView> attributes;

    // Runs one handler call; a false answer or an exception stops the parser.
    template <class F>
    void Call(F&& f) {
        if (stopped || refused) return;
        bool go = false;
        try {
            go = f();
        } catch (...) {
            error = std::current_exception();
        }
        if (!go) {
            stopped = true;
            xmlStopParser(ctxt);
        }
    }
};

Session& Of(void* ctx) { return *static_cast<Session*>(detail::ChecksOf(ctx).owner); }

void OnStart(void* ctx, const xmlChar* localname, const xmlChar*, const xmlChar* uri, int,
             const xmlChar**, int nbAttributes, int, const xmlChar** attrs) {
    if (!detail::EnterElement(static_cast<xmlParserCtxtPtr>(ctx))) return;
    Session& s = Of(ctx);
    s.attributes.clear();
    for (int i = 0; i < nbAttributes; ++i) {
        const xmlChar** a = attrs + 5 * i;
        s.attributes.push_back(
            {View(a[0]), View(a[2]),
             std::string_view(reinterpret_cast<const char*>(a[3]), size_t(a[4] - a[3]))});
    }
    s.Call([&] {
        return s.handler.StartElement(View(localname), View(uri), s.attributes.data(),
                                      s.attributes.size());
    });
}

void OnEnd(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    detail::LeaveElement(static_cast<xmlParserCtxtPtr>(ctx));
    Session& s = Of(ctx);
    s.Call([&] { return s.handler.EndElement(); });
}

void OnText(void* ctx, const xmlChar* ch, int len) {
    Session& s = Of(ctx);
    s.Call([&] {
        return s.handler.Text(std::string_view(reinterpret_cast<const char*>(ch), size_t(len)));
    });
}

void OnComment(void* ctx, const xmlChar*) {
    Session& s = Of(ctx);
    s.Call([&] { return s.handler.Markup(); });
}

void OnPI(void* ctx, const xmlChar*, const xmlChar*) { OnComment(ctx, nullptr); }

void OnDoctype(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
    Session& s = Of(ctx);
    s.refused = true;
    xmlStopParser(s.ctxt);
}

}  // namespace

XmlEventResult ParseEvents(std::string_view bytes, XmlEventHandler& handler) {
    if (bytes.size() > size_t(INT_MAX) || !xmlguard::ScanMarkup(bytes).ok)
        return XmlEventResult::Refused;
    detail::EnsureLibxml();
    xmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.initialized = XML_SAX2_MAGIC;
    sax.startElementNs = &OnStart;
    sax.endElementNs = &OnEnd;
    sax.characters = &OnText;
    sax.cdataBlock = &OnText;
    sax.ignorableWhitespace = &OnText;
    sax.comment = &OnComment;
    sax.processingInstruction = &OnPI;
    sax.internalSubset = &OnDoctype;
    // A push parser fed the bytes in slices: it keeps only a slice or two of them at a time,
    // where a memory parse would first copy them all (as large as the reply). The first bytes
    // go in on their own, from which the parser tells the encoding.
    const int head = int(std::min<size_t>(bytes.size(), 4));
    xmlParserCtxtPtr ctxt = xmlCreatePushParserCtxt(&sax, nullptr, bytes.data(), head, nullptr);
    if (!ctxt) throw std::bad_alloc();
    xmlCtxtUseOptions(ctxt, detail::ParseOptions());
    // The options drop the CDATA handler (CDATA comes as text). The push parser then says
    // nothing of an empty section, where a memory parse (the DOM loader's) gives an empty text;
    // with the handler back, both give that text, and a section's pieces reach OnText either way.
    ctxt->sax->cdataBlock = &OnText;
    Session s(handler, ctxt);
    detail::ParseChecks checks;
    checks.owner = &s;
    detail::WatchErrors(ctxt, checks);
    constexpr size_t kSlice = 16 * 1024;
    bool going = true;
    for (size_t at = size_t(head); going && at < bytes.size(); at += kSlice) {
        const size_t n = std::min(kSlice, bytes.size() - at);
        xmlParseChunk(ctxt, bytes.data() + at, int(n), 0);
        // Stopped, or refused already: the rest would only be buffered.
        going = ctxt->instate != XML_PARSER_EOF && ctxt->wellFormed != 0;
    }
    if (going) xmlParseChunk(ctxt, nullptr, 0, 1);
    xmlDoc* doc = ctxt->myDoc;
    ctxt->myDoc = nullptr;
    // Refused alike by the DOM loader: too deep, or a prefix no declaration binds.
    const bool wellFormed = ctxt->wellFormed != 0 && detail::Refusal(checks).empty();
    if (doc) xmlFreeDoc(doc);
    xmlFreeParserCtxt(ctxt);
    if (s.error) std::rethrow_exception(s.error);
    if (s.refused) return XmlEventResult::Refused;
    if (s.stopped) return XmlEventResult::Stopped;
    return wellFormed ? XmlEventResult::Done : XmlEventResult::Refused;
}

}  // namespace velqor::dom
