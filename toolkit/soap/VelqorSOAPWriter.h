// The SOAP writer: turns one request record into a SOAP 1.1 request document.
//
//   TVelqorSOAPWriter w;              // or a subclass such as TVelqorClientSoapWriter
//   w.NilForEmptyVariants = false;
//   w.BeginMessage(ns, "GetStatus");  // envelope, body, method element; SOAPAction = ns + method
//   w.WriteRecord("", {}, request);   // the record's fields inside the method element
//   std::string body = w.SaveToString();
//
// Fields are written in declaration order: attribute fields as attributes of the record's
// element, the others as child elements in the method's namespace; empty texts, numeric zeros,
// false booleans, missing records and empty arrays are left out.
#pragma once

#include <iosfwd>
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

// The text that forces an empty value past the omission of empty texts.
inline constexpr std::string_view kEmptyValueMarker = "\"";

class TVelqorSOAPWriter : private TNonCopyable {
  public:
    virtual ~TVelqorSOAPWriter() = default;

    // Writes one simple value as an attribute or a child element; returns the element added.
    virtual dom::XmlNode WriteValue(dom::XmlNode parent, std::string_view name, bool numeric,
                                    bool attribute, std::string_view text);
    virtual dom::XmlNode CreateEnvelope(dom::XmlDocument& document);
    virtual dom::XmlNode AddHeader(dom::XmlNode envelope);
    virtual dom::XmlNode AddBody(dom::XmlNode envelope);
    virtual dom::XmlNode AddFault(dom::XmlNode body);
    virtual void WriteArrayField(dom::XmlNode parent, const FieldInfo& field,
                                 const TRemotable& record);
    // Booleans and other enumerations; value is a boolean or the ordinal.
    virtual void WriteEnumField(dom::XmlNode parent, const FieldInfo& field, bool attribute,
                                const Variant& value);
    // A child at the end, in nsUri or (when empty) in DefaultNamespace, without a new prefix.
    virtual dom::XmlNode AddElement(dom::XmlNode parent, std::string_view name,
                                    std::string_view nsUri = {});

    // A new document with envelope, body and method element.
    dom::XmlNode BeginMessage(std::string_view nsUri, std::string_view methodName);
    // Without parent the fields go into the method element; with a parent into a new element
    // elementName.
    void WriteRecord(std::string_view elementName, dom::XmlNode parent, const TRemotable& record);
    dom::XmlNode WriteVariant(dom::XmlNode parent, std::string_view name, const Variant& value);
    void SaveToStream(std::ostream& out) const;
    std::string SaveToString() const;

    // count new, empty records of a class (for building request lists).
    template <class R>
    static std::vector<std::unique_ptr<R>> NewRecordArray(size_t count) {
        std::vector<std::unique_ptr<R>> out;
        out.reserve(count);
        for (size_t i = 0; i < count; ++i) out.push_back(std::make_unique<R>());
        return out;
    }

    dom::XmlDocument& Document();
    dom::XmlNode MethodElement() const { return method_; }

    bool OmitEmpty = true;
    std::string DefaultNamespace;
    bool NilForEmptyVariants = true;
    std::string SOAPAction;

  private:
    dom::XmlNode WriteVariantArray(dom::XmlNode parent, std::string_view name,
                                   const Variant& array);
    dom::XmlNode AddNilElement(dom::XmlNode parent, std::string_view name);

    std::optional<dom::XmlDocument> doc_;
    dom::XmlNode method_;
};

}  // namespace velqor
