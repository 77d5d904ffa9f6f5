// Reading XML as a stream of events (element starts and ends, text), without building a tree:
// for large replies whose parts are used once, in document order. The same parser, options and
// safety rules as XmlDocument::Load (no document type declaration, no network, the markup
// pre-scan), so a document that loads here loads there and the other way round; the parser is
// given the bytes in slices, so that it never holds a copy of them all.
//
//   struct Counter : dom::XmlEventHandler { ... };
//   Counter c;
//   if (dom::ParseEvents(bytes, c) != dom::XmlEventResult::Done) ...;
#pragma once

#include <cstddef>
#include <string_view>

namespace velqor::dom {

// One attribute of a start tag; the views last until the handler returns.
struct XmlAttributeView {
    std::string_view LocalName;
    std::string_view NamespaceURI;  // "" for an attribute without prefix
    std::string_view Value;         // entities and character references resolved
};

class XmlEventHandler {
  public:
    virtual ~XmlEventHandler() = default;
    // Each returns false to stop parsing at once (ParseEvents then gives Stopped).
    virtual bool StartElement(std::string_view localName, std::string_view nsUri,
                              const XmlAttributeView* attributes, size_t count) = 0;
    virtual bool EndElement() = 0;
    // A piece of character data (CDATA sections included); one text may come in several pieces.
    virtual bool Text(std::string_view piece) = 0;
    // A comment or processing instruction.
    virtual bool Markup() { return true; }
};

enum class XmlEventResult {
    Done,     // the whole document was read and is well-formed
    Stopped,  // a handler returned false (or raised: the error passes on after the parse)
    Refused,  // not well-formed, a document type declaration, or refused by the pre-scan
};

// Reads bytes (encoding detected from the content) and calls the handler in document order.
// An exception from the handler stops the parse and is raised again once the parser is gone.
XmlEventResult ParseEvents(std::string_view bytes, XmlEventHandler& handler);

}  // namespace velqor::dom
