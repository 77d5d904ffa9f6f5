// One value element kept from a stream of XML events (its attributes, child elements, texts and
// comments), so that the reader's value rules, written once for any node type, read it as they
// read a DOM node. The streaming reader keeps one tree and fills it again for each value; the
// memory it takes is that of the largest value so far.
//
//   TValueTree t;
//   t.Start("Value", attributes, n);  t.Text("1.5");  if (t.End()) v = ReadValue(t.Root(), s);
//
// What the tree cannot say for certain: the DOM loader drops some blank texts beside child
// elements and comments (by libxml2's rule for ignorable blanks), so the text of an element
// that has both is left undecided and TextView raises TUndecidedText; the caller hands the
// document to the DOM reader then.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "soap/dom/VelqorXmlEvents.h"

namespace velqor {

// Not an error of the document: the tree cannot tell what the DOM would hold (see above).
struct TUndecidedText {};

class TValueTree;

// A light handle to one node of a TValueTree, with the reading part of dom::XmlNode's interface.
class TValueNode {
  public:
    TValueNode() = default;
    TValueNode(const TValueTree* tree, uint32_t index) : tree_(tree), index_(index) {}

    explicit operator bool() const { return tree_ != nullptr; }
    bool IsElement() const;
    std::string_view LocalName() const;
    TValueNode FirstChild() const;
    TValueNode NextSibling() const;
    bool HasChildNodes() const;
    size_t ElementChildCount() const;
    std::string_view TextView(std::string& scratch) const;
    bool Attribute(std::string_view name, std::string_view& value, std::string& scratch) const;
    bool AttributeNS(std::string_view name, std::string_view nsUri, std::string_view& value,
                     std::string& scratch) const;
    bool HasAttribute(std::string_view name) const;

  private:
    const TValueTree* tree_ = nullptr;
    uint32_t index_ = 0;
};

class TValueTree {
  public:
    // Forgets the last value (its memory stays for the next one).
    void Reset();
    // The events of the value element, from its start to its end.
    void Start(std::string_view localName, const dom::XmlAttributeView* attributes, size_t count);
    void Text(std::string_view piece);
    void Markup();
    // True when the value element itself has ended.
    bool End();
    bool Open() const { return !open_.empty(); }
    TValueNode Root() const { return TValueNode(this, 0); }

  private:
    friend class TValueNode;
    static constexpr uint32_t kNone = UINT32_MAX;
    enum class Kind : uint8_t { Element, Text, Other };
    struct Attr {
        std::string Name, NamespaceURI, Value;
    };
    struct Node {
        Kind Type = Kind::Element;
        std::string Name;  // element: local name; text: the text
        std::vector<Attr> Attrs;
        size_t AttrCount = 0;
        uint32_t First = kNone, Last = kNone, Next = kNone;
    };
    uint32_t Add(Kind kind);
    void AppendText(std::string& out, uint32_t element) const;

    std::vector<Node> nodes_;
    size_t used_ = 0;
    std::vector<uint32_t> open_;
};

}  // namespace velqor
