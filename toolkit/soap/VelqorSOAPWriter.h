// The SOAP writer: turns one request record into a SOAP 1.1 document, for a caller that wants
// the document itself (headers, faults, records placed by hand). Requests that are only sent
// are written by TVelqorSOAPTextWriter, to the same bytes without the document.
//
//   TVelqorSOAPWriter w;              // or a subclass such as TVelqorClientSoapWriter
//   w.NilForEmptyVariants = false;
//   w.BeginMessage(ns, "GetStatus");  // envelope, body, method element; SOAPAction = ns + method
//   w.WriteRecord("", {}, request);   // the record's fields inside the method element
//   std::string body = w.SaveToString();
//
// Which fields are written and how: see TSOAPWriteRules.
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
#include "soap/VelqorSOAPWriteRules.h"
#include "soap/dom/VelqorDom.h"

namespace velqor {

class TVelqorSOAPWriter : public TSOAPWriteRules, private TNonCopyable {
  public:
    virtual ~TVelqorSOAPWriter() = default;

    virtual dom::XmlNode CreateEnvelope(dom::XmlDocument& document);
    virtual dom::XmlNode AddHeader(dom::XmlNode envelope);
    virtual dom::XmlNode AddBody(dom::XmlNode envelope);
    virtual dom::XmlNode AddFault(dom::XmlNode body);
    // A child at the end, in nsUri or (when empty) in DefaultNamespace, without a new prefix.
    virtual dom::XmlNode AddElement(dom::XmlNode parent, std::string_view name,
                                    std::string_view nsUri = {});

    // A new document with envelope, body and method element.
    dom::XmlNode BeginMessage(std::string_view nsUri, std::string_view methodName);
    // Without parent the fields go into the method element; with a parent into a new element
    // elementName.
    void WriteRecord(std::string_view elementName, dom::XmlNode parent, const TRemotable& record);
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

    std::string DefaultNamespace;
    std::string SOAPAction;

  private:
    std::optional<dom::XmlDocument> doc_;
    dom::XmlNode method_;
};

}  // namespace velqor
