#include "soap/dom/LibxmlParse.h"

#include <libxml/SAX2.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>

namespace velqor::dom::detail {

namespace {

void RecordError(void* ctx, xmlErrorPtr e) {
    if (!ctx || !e || e->domain != XML_FROM_NAMESPACE || e->level < XML_ERR_ERROR) return;
    ParseChecks& c = ChecksOf(ctx);
    if (!c.namespaceError.empty()) return;
    std::string msg = e->message ? e->message : "namespace error";
    while (!msg.empty() && (msg.back() == '\n' || msg.back() == '\r')) msg.pop_back();
    c.namespaceError = msg;
    c.line = e->line;
    c.column = e->int2;
}

}  // namespace

int ParseOptions() {
    return XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOCDATA | XML_PARSE_NOERROR |
           XML_PARSE_NOWARNING | XML_PARSE_HUGE;
}

void EnsureLibxml() {
    static const bool ready = [] {
        xmlInitParser();
        return true;
    }();
    (void)ready;
}

ParseChecks& ChecksOf(void* ctx) {
    return *static_cast<ParseChecks*>(static_cast<xmlParserCtxtPtr>(ctx)->_private);
}

void WatchErrors(ParserContext ctxt, ParseChecks& checks) {
    ctxt->_private = &checks;
    ctxt->sax->serror = &RecordError;
}

bool EnterElement(ParserContext ctxt) {
    ParseChecks& c = ChecksOf(ctxt);
    if (++c.depth <= kMaxElementDepth) return true;
    if (!c.tooDeep) {
        c.tooDeep = true;
        c.line = xmlSAX2GetLineNumber(ctxt);
        c.column = xmlSAX2GetColumnNumber(ctxt);
    }
    xmlStopParser(ctxt);
    return false;
}

void LeaveElement(ParserContext ctxt) { --ChecksOf(ctxt).depth; }

std::string Refusal(const ParseChecks& checks) {
    if (checks.tooDeep)
        return "elements nested deeper than " + std::to_string(kMaxElementDepth) + " levels";
    return checks.namespaceError;
}

}  // namespace velqor::dom::detail
