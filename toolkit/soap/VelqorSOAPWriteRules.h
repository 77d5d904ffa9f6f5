// What the SOAP writers write for a record: which fields, in what order, as attributes or child
// elements, with which texts, and how variants and their arrays look. The document writer and
// the text writer both follow these rules through a sink, so their output cannot drift apart.
//
// A record's attribute fields come first, in declaration order, then its child elements in
// declaration order. Empty texts, numeric zeros, false booleans, missing records and empty
// arrays are left out (OmitEmpty); an empty variant is written xsi:nil (NilForEmptyVariants) or
// left out.
#pragma once

#include <string>
#include <string_view>

#include "soap/VelqorSOAPRemotable.h"

namespace velqor {

// Where a writer puts a record: elements opened and closed in document order, an element's
// attributes before its text or children.
class TSOAPSink {
  public:
    virtual ~TSOAPSink() = default;
    // A child element of the open one, in the message's namespace.
    virtual void Open(std::string_view name) = 0;
    virtual void Attribute(std::string_view name, std::string_view value) = 0;
    // An attribute in the XML Schema instance namespace ("type", "nil").
    virtual void XsiAttribute(std::string_view name, std::string_view value) = 0;
    // The element's text; an empty text adds nothing.
    virtual void Text(std::string_view text) = 0;
    virtual void Close(std::string_view name) = 0;
};

class TSOAPWriteRules {
  public:
    bool OmitEmpty = true;
    bool NilForEmptyVariants = true;
    // A field name written even when its text is empty (the client writes every ItemPath).
    std::string_view AlwaysWritten;
    // An enumeration type never written (the client sends no quality bits).
    std::string_view NeverWrittenEnum;

    // The record's fields into the element open in out.
    void WriteFields(TSOAPSink& out, const TRemotable& record) const;
    // One variant as element name: typed, nil, base64 or an array of its type.
    void WriteVariant(TSOAPSink& out, std::string_view name, const Variant& value) const;

  private:
    // The text of a field of a simple kind; false when the field is left out.
    bool FieldText(const FieldInfo& field, const TRemotable& record, std::string& text) const;
    void WriteArray(TSOAPSink& out, std::string_view name, const Variant& array) const;
};

}  // namespace velqor
