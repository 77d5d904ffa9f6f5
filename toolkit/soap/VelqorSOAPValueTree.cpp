#include "soap/VelqorSOAPValueTree.h"

namespace velqor {

namespace {

bool Blank(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
    return true;
}

}  // namespace

// ---- building --------------------------------------------------------------------------------

void TValueTree::Reset() {
    used_ = 0;
    open_.clear();
}

uint32_t TValueTree::Add(Kind kind) {
    if (used_ == nodes_.size()) nodes_.emplace_back();
    const auto index = uint32_t(used_++);
    Node& n = nodes_[index];
    n.Type = kind;
    n.Name.clear();
    n.AttrCount = 0;
    n.First = n.Last = n.Next = kNone;
    if (!open_.empty()) {
        Node& parent = nodes_[open_.back()];
        if (parent.Last == kNone)
            parent.First = index;
        else
            nodes_[parent.Last].Next = index;
        parent.Last = index;
    }
    return index;
}

void TValueTree::Start(std::string_view localName, const dom::XmlAttributeView* a, size_t n) {
    const uint32_t index = Add(Kind::Element);
    Node& node = nodes_[index];
    node.Name.assign(localName);
    if (node.Attrs.size() < n) node.Attrs.resize(n);
    for (size_t k = 0; k < n; ++k) {
        node.Attrs[k].Name.assign(a[k].LocalName);
        node.Attrs[k].NamespaceURI.assign(a[k].NamespaceURI);
        node.Attrs[k].Value.assign(a[k].Value);
    }
    node.AttrCount = n;
    open_.push_back(index);
}

void TValueTree::Text(std::string_view piece) {
    if (open_.empty()) return;
    // Pieces of one text join, as the DOM joins them into one node.
    const uint32_t last = nodes_[open_.back()].Last;
    if (last != kNone && nodes_[last].Type == Kind::Text) {
        nodes_[last].Name.append(piece);
        return;
    }
    nodes_[Add(Kind::Text)].Name.assign(piece);
}

void TValueTree::Markup() {
    if (!open_.empty()) Add(Kind::Other);
}

bool TValueTree::End() {
    if (!open_.empty()) open_.pop_back();
    return open_.empty();
}

// ---- reading ---------------------------------------------------------------------------------

void TValueTree::AppendText(std::string& out, uint32_t element) const {
    bool blank = false, other = false;
    for (uint32_t c = nodes_[element].First; c != kNone; c = nodes_[c].Next) {
        if (nodes_[c].Type == Kind::Text)
            blank = blank || Blank(nodes_[c].Name);
        else
            other = true;
    }
    // Blanks beside elements or comments: the DOM may have dropped them.
    if (blank && other) throw TUndecidedText();
    for (uint32_t c = nodes_[element].First; c != kNone; c = nodes_[c].Next) {
        if (nodes_[c].Type == Kind::Text) out += nodes_[c].Name;
        if (nodes_[c].Type == Kind::Element) AppendText(out, c);
    }
}

bool TValueNode::IsElement() const {
    return tree_->nodes_[index_].Type == TValueTree::Kind::Element;
}

std::string_view TValueNode::LocalName() const {
    return IsElement() ? std::string_view(tree_->nodes_[index_].Name) : std::string_view();
}

TValueNode TValueNode::FirstChild() const {
    const uint32_t c = tree_->nodes_[index_].First;
    return c == TValueTree::kNone ? TValueNode() : TValueNode(tree_, c);
}

TValueNode TValueNode::NextSibling() const {
    const uint32_t c = tree_->nodes_[index_].Next;
    return c == TValueTree::kNone ? TValueNode() : TValueNode(tree_, c);
}

bool TValueNode::HasChildNodes() const { return tree_->nodes_[index_].First != TValueTree::kNone; }

size_t TValueNode::ElementChildCount() const {
    size_t k = 0;
    for (TValueNode c = FirstChild(); c; c = c.NextSibling())
        if (c.IsElement()) ++k;
    return k;
}

std::string_view TValueNode::TextView(std::string& scratch) const {
    const auto& nodes = tree_->nodes_;
    const auto& n = nodes[index_];
    if (n.Type == TValueTree::Kind::Text) return n.Name;
    if (n.First == TValueTree::kNone) return {};
    if (n.First == n.Last && nodes[n.First].Type == TValueTree::Kind::Text)
        return nodes[n.First].Name;
    scratch.clear();
    tree_->AppendText(scratch, index_);
    return scratch;
}

bool TValueNode::Attribute(std::string_view name, std::string_view& value,
                           std::string& scratch) const {
    return AttributeNS(name, {}, value, scratch);  // no prefix: no namespace
}

bool TValueNode::AttributeNS(std::string_view name, std::string_view nsUri, std::string_view& value,
                             std::string&) const {
    const auto& n = tree_->nodes_[index_];
    if (n.Type != TValueTree::Kind::Element) return false;
    for (size_t k = 0; k < n.AttrCount; ++k) {
        const auto& a = n.Attrs[k];
        if (a.Name == name && a.NamespaceURI == nsUri) {
            value = a.Value;
            return true;
        }
    }
    return false;
}

bool TValueNode::HasAttribute(std::string_view name) const {
    std::string_view v;
    std::string s;
    return AttributeNS(name, {}, v, s);
}

}  // namespace velqor
