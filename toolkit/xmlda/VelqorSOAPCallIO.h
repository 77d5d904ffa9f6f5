// The client side's SOAP writer and reader for OPC XML-DA exchanges.
//
// Writing a request and reading its reply (what the call glue does for every operation):
//
//   TVelqorClientSoapWriter w;
//   w.BeginMessage(xmlda::kXmlDaNamespace, "GetStatus");
//   w.WriteRecord("", {}, request);           // request: xmlda::GetStatus
//   std::string body = w.SaveToString();      // POST it with SOAPAction w.SOAPAction
//
//   TVelqorSoapReader r;
//   r.Parse(responseBody);                    // EVelqorSOAPFault for a fault
//   auto reply = std::make_unique<xmlda::GetStatusResponse>();
//   r.ReadRecord(r.ResultElement, *reply);
#pragma once

#include "soap/VelqorSOAPReader.h"
#include "soap/VelqorSOAPTextWriter.h"
#include "soap/VelqorSOAPWriter.h"
#include "xmlda/OpcXmlDa.h"

namespace velqor {

// The client's rules: every ItemPath is written, empty or not; quality bits never are; empty
// variants are left out.
void UseXmlDaClientRules(TSOAPWriteRules& rules);

// The document writer with the client's rules.
class TVelqorClientSoapWriter : public TVelqorSOAPWriter {
  public:
    TVelqorClientSoapWriter() { UseXmlDaClientRules(*this); }
};

// Creates the nested XML-DA records of a reply by class name.
class TVelqorSoapReader : public TVelqorSOAPReader {
  public:
    std::unique_ptr<TRemotable> CreateObject(std::string_view className) override;
};

}  // namespace velqor
