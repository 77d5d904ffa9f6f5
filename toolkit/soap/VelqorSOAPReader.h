// The SOAP reader: parses a response envelope, turns a fault into EVelqorSOAPFault and fills a
// reply record from the single element of the body.
//
//   MyReader r;                          // a subclass providing CreateObject
//   r.Parse(responseBytes);              // raises on faults and non-envelopes
//   auto reply = std::make_unique<GetStatusResponse>();
//   r.ReadRecord(r.ResultElement, *reply);
//
// Fields are found by name (attributes exactly, child elements by local name ignoring case),
// never by position; any namespace prefix is accepted; variant values are decoded from their
// xsi:type. SOAP 1.1 and SOAP 1.2 faults are both understood.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/NonCopyable.h"
#include "soap/VelqorSOAPEncoding.h"
#include "soap/VelqorSOAPRemotable.h"
#include "soap/dom/VelqorDom.h"

namespace velqor {

// An integer that does not fit its field.
class EVelqorRangeError : public Exception {
  public:
    EVelqorRangeError() : Exception("SRangeError") {}
};

// A value text that cannot be read as its XML Schema type; the message names the type, the
// text (shortened) and the reason.
class EVelqorValueError : public Exception {
  public:
    using Exception::Exception;
};

// The message of EVelqorValueError: invalid xsd:int value "12abc": <reason>.
std::string ValueErrorText(std::string_view typeName, std::string_view text,
                           std::string_view reason);

// The value rules: the variant an element holds, by its xsi:type (prefix removed) or else its
// own name, its nil marks and its entries. One set of rules for the DOM's nodes and for the
// value trees of the streaming reader (Node: dom::XmlNode or TValueNode). Raises
// EVelqorValueError on a text its type cannot hold.
template <class Node>
Variant ReadValue(Node element);

class TVelqorSOAPReader : private TNonCopyable {
  public:
    virtual ~TVelqorSOAPReader() = default;

    // A new, empty record of the class a record field or array entry declares.
    virtual std::unique_ptr<TRemotable> CreateObject(std::string_view className) = 0;
    virtual void ReadArrayField(dom::XmlNode element, const FieldInfo& field, TRemotable& record);
    [[noreturn]] virtual void RaiseFault(dom::XmlNode fault);

    // Loads the response and finds the body's element; methodName is its local name in lower
    // case, nsUri its namespace. Raises EVelqorSOAPConvertError "invalid SOAP request",
    // EVelqorSOAPFault, or dom::EXmlParseError.
    void Parse(std::string_view bytes, std::string& methodName, dom::XmlNode& result,
               std::string& nsUri);
    dom::XmlNode Parse(std::string_view bytes);

    void ReadRecord(dom::XmlNode element, TRemotable& record);
    // A child element read as a variant (ReadValue).
    Variant ReadVariant(dom::XmlNode element) { return ReadValue(element); }
    // The text of a scalar element read as its kind; raises on a text the kind cannot hold.
    static Variant ReadScalar(VARTYPE kind, std::string_view text);
    // The same for an element of a type name (its xsi:type, else its own name): raises
    // EVelqorValueError naming the type, the text and the reason.
    static Variant ReadScalarElement(VARTYPE kind, std::string_view typeName,
                                     std::string_view text);
    dom::XmlNode FindChild(dom::XmlNode element, std::string_view name);
    size_t FindChildren(dom::XmlNode element, std::string_view name,
                        std::vector<dom::XmlNode>* list);

    // The storing rules: a variant, or a text (as a string variant would be), into a field.
    static void StoreVariant(const FieldInfo& field, TRemotable& record, const Variant& value);
    static void StoreText(const FieldInfo& field, TRemotable& record, std::string_view text);

    dom::XmlDocument* Document() { return doc_ ? &*doc_ : nullptr; }
    dom::XmlNode ResultElement;

  private:
    std::optional<dom::XmlDocument> doc_;
    std::string scratch_;
};

}  // namespace velqor
