// A small XML DOM for the SOAP layer: just the operations the writer and reader need, with
// libxml2 underneath (its types never appear here).
//
// Safety of loading: documents with a document type declaration are refused outright (SOAP
// messages must not carry one), so no DTD or external entity is ever fetched and no entity can
// be expanded; the parser never touches the network. A document that is not well-formed raises
// EXmlParseError with the parser's message, line and column. The caller bounds the input size.
//
// Nodes are light handles into their document; they stay valid while the document lives and
// the node is not removed. Text is UTF-8.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/Exception.h"

struct _xmlNode;
struct _xmlDoc;
struct _xmlAttr;

namespace velqor::dom {

// The XML Schema instance namespace, whose attributes ("type", "nil") get the prefix "xsi".
inline constexpr std::string_view kXsiNamespace = "http://www.w3.org/2001/XMLSchema-instance";

// A document that could not be loaded (not well-formed, or refused as unsafe).
class EXmlParseError : public Exception {
  public:
    EXmlParseError(const std::string& message, int line, int column)
        : Exception(message), line_(line), column_(column) {}
    int Line() const { return line_; }
    int Column() const { return column_; }

  private:
    int line_, column_;
};

// XML 1.0 cannot carry the C0 control characters other than tab, line feed and carriage
// return (NUL included): raises for a text holding one, with a clear error, instead of sending
// a document the peer rejects as malformed or cutting a value short at a NUL.
void CheckXmlText(std::string_view s);

enum class NodeType { Element, Text, Other };

class XmlNode {
  public:
    XmlNode() = default;
    explicit XmlNode(_xmlNode* n) : n_(n) {}

    explicit operator bool() const { return n_ != nullptr; }
    bool operator==(const XmlNode& o) const { return n_ == o.n_; }
    _xmlNode* Raw() const { return n_; }

    NodeType Type() const;
    bool IsElement() const;
    // The qualified name as written ("soap:Body"), the name without prefix ("Body") and the
    // namespace URI ("" for none). LocalName and NamespaceURI never copy.
    std::string Name() const;
    std::string_view LocalName() const;
    std::string_view NamespaceURI() const;

    // Child nodes in document order (elements, texts and others alike).
    XmlNode FirstChild() const;
    XmlNode NextSibling() const;
    size_t ChildCount() const;
    XmlNode Child(size_t index) const;  // linear in index; prefer FirstChild/NextSibling
    bool HasChildNodes() const;
    size_t ElementChildCount() const;

    // The text content (all descendant texts joined). TextView avoids the copy when the node
    // holds a single text (the usual case) and otherwise fills scratch.
    std::string Text() const;
    std::string_view TextView(std::string& scratch) const;

    // Attribute by name without namespace, or by name and namespace URI; absent gives false.
    bool Attribute(std::string_view name, std::string_view& value, std::string& scratch) const;
    bool AttributeNS(std::string_view name, std::string_view nsUri, std::string_view& value,
                     std::string& scratch) const;
    bool HasAttribute(std::string_view name) const;
    // Copying forms: "" when absent.
    std::string Attribute(std::string_view name) const;
    std::string AttributeNS(std::string_view name, std::string_view nsUri) const;

    // Building.
    // A child element at the end. A qualified name ("soap:Body") uses the prefix in scope for
    // nsUri, or declares it; a plain name joins nsUri as default namespace, declaring it on the
    // new element unless it is already the default in scope. An empty nsUri gives the default
    // namespace in scope.
    XmlNode AddElement(std::string_view qname, std::string_view nsUri);
    void DeclareNamespace(std::string_view prefix, std::string_view uri);
    void SetAttribute(std::string_view name, std::string_view value);
    // An attribute in a namespace; the prefix in scope for the URI serves, else `prefix` is
    // declared on this element.
    void SetAttributeNS(std::string_view prefix, std::string_view nsUri, std::string_view name,
                        std::string_view value);
    // Replaces the children by one text node (no child for an empty text).
    void SetText(std::string_view text);

  private:
    _xmlNode* n_ = nullptr;
};

class XmlDocument {
  public:
    XmlDocument();  // empty, declared encoding "utf-8"
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;
    XmlDocument(XmlDocument&& o) noexcept;
    XmlDocument& operator=(XmlDocument&& o) noexcept;

    // Loads a document from bytes, the encoding detected from the content (byte order mark,
    // declaration, else UTF-8). Raises EXmlParseError.
    static XmlDocument Load(std::string_view bytes);

    XmlNode DocumentElement() const;
    // A new element by qualified name, declaring prefix -> nsUri on it when the name has a
    // prefix and nsUri is given; it becomes the document element.
    XmlNode CreateDocumentElement(std::string_view qname, std::string_view nsUri);

    // UTF-8 text beginning with the XML declaration.
    std::string Save() const;

    _xmlDoc* Raw() const { return doc_; }

  private:
    explicit XmlDocument(_xmlDoc* d) : doc_(d) {}
    _xmlDoc* doc_ = nullptr;
};

}  // namespace velqor::dom
