// What the DOM loader and the event reader share about running libxml2: the options, the depth
// bound and the checks made while parsing, so that a document one of them reads the other reads
// too, and one they refuse is refused by both for the same reason. Internal to velqor_dom.
#pragma once

#include <string>

struct _xmlParserCtxt;

namespace velqor::dom::detail {

using ParserContext = _xmlParserCtxt*;

// Never the network, no blank text nodes, CDATA as text, no error printing. libxml2's own size
// limits (10 MB of input in view, 10 MB texts) are lifted: the caller's bound on the document's
// size replaces them; the depth bound that goes with them is kept here instead.
int ParseOptions();
// Element nesting beyond this is refused (libxml2's usual bound; SOAP replies nest a dozen).
inline constexpr int kMaxElementDepth = 256;

// Set up libxml2's globals once, before threads parse side by side.
void EnsureLibxml();

// The state a parse keeps beside the parser; the context's _private points at it, owner at
// whatever the caller keeps.
struct ParseChecks {
    void* owner = nullptr;
    int depth = 0;
    bool tooDeep = false;
    std::string namespaceError;  // the first: a prefix that was never declared, and the like
    int line = 0, column = 0;    // where the refusal was found
};

ParseChecks& ChecksOf(void* ctx);
// Installs the structured error handler that records namespace errors.
void WatchErrors(ParserContext ctxt, ParseChecks& checks);
// Counts an element start or end; false (the parser is stopped) when the bound is passed.
bool EnterElement(ParserContext ctxt);
void LeaveElement(ParserContext ctxt);
// Why a document that parsed is still refused; "" when it is not: too deep, or not
// namespace-well-formed (an element or attribute prefix that no xmlns declares).
std::string Refusal(const ParseChecks& checks);

}  // namespace velqor::dom::detail
