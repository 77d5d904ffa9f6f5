// The client side's SOAP writer and reader for OPC XML-DA exchanges.
//
// Writing a request and reading its reply (what the call glue does for every operation):
//
//   TVelqorClientSoapWriter w;
//   w.BeginMessage(xmlda::kXmlDaNamespace, "GetStatus");
//   w.NilForEmptyVariants = false;
//   w.WriteRecord("", {}, request);           // request: xmlda::GetStatus
//   std::string body = w.SaveToString();      // POST it with SOAPAction w.SOAPAction
//
//   TVelqorSoapReader r;
//   r.Parse(responseBody);                    // EVelqorSOAPFault for a fault
//   auto reply = std::make_unique<xmlda::GetStatusResponse>();
//   r.ReadRecord(r.ResultElement, *reply);
#pragma once

#include "soap/VelqorSOAPReader.h"
#include "soap/VelqorSOAPWriter.h"
#include "xmlda/OpcXmlDa.h"

namespace velqor {

// Writes every ItemPath, empty or not, and never writes a quality bits field.
class TVelqorClientSoapWriter : public TVelqorSOAPWriter {
  public:
    dom::XmlNode WriteValue(dom::XmlNode parent, std::string_view name, bool numeric,
                            bool attribute, std::string_view text) override;
    void WriteEnumField(dom::XmlNode parent, const FieldInfo& field, bool attribute,
                        const Variant& value) override;
};

// Creates the nested XML-DA records of a reply by class name.
class TVelqorSoapReader : public TVelqorSOAPReader {
  public:
    std::unique_ptr<TRemotable> CreateObject(std::string_view className) override;
};

}  // namespace velqor
