// The SOAP call glue: one request/reply exchange of one OPC XML-DA operation. The request record
// is written into an envelope by the client-side writer, posted through the call settings'
// poster (or a one-off poster when there is none) and the reply is read back into a new reply
// record.
//
//   xmlda::GetStatus req;
//   req.LocaleID = "en";
//   std::unique_ptr<xmlda::GetStatusResponse> reply = CallOperation(settings, req);
//
// Errors:
// - the poster fails (name resolution, refused connection, HTTP status, time-out, ...): the
//   shutdown message WM_VELQOR_SHUTDOWN (wParam 0, no payload) is posted to the settings'
//   NotifyWindow when one is set, then EVelqorSOAPConnect with the poster's text is raised;
// - the user cancelled a credentials question, or the poster was aborted: EAbort passes through
//   unchanged and nothing is posted (the silent abort is never reported);
// - a SOAP fault in the reply: EVelqorSOAPFault from the reader, nothing is posted;
// - a reply the reader cannot map: the reader's own errors.
//
// The glue keeps no state; the caller owns the settings and must not use one poster from two
// threads at once.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "soap/VelqorSOAPRemotable.h"
#include "xmlda/OpcXmlDa.h"
#include "xmlda/VelqorSOAPData.h"

namespace velqor {

// The request envelope of an operation: SOAPAction receives the action (XML-DA namespace +
// operation name, or settings.Namespace + name when that is set).
std::string WriteXmlDaRequest(std::string_view nameSpace, std::string_view operation,
                              const TRemotable& request, std::string& soapAction);

// What the reply held: the reader gives every record field of a reply a record, present on the
// wire or not, so a caller that must tell an absent part from an empty one asks for this.
struct TXmlDaReplyShape {
    bool HasResult = false;             // the body held the operation's reply element
    std::vector<std::string> Elements;  // local names of that element's child elements, in order
    bool Has(std::string_view name) const;
};

// The two halves of an exchange: posting the request (returns the reply's bytes) and reading
// the reply into a new, empty record of the operation's reply class (poster: the one that
// posted, whose HTTP status explains a body that is no SOAP reply). Errors as below.
std::string PostXmlDaRequest(TVelqorSOAPData& settings, std::string_view operation,
                             const TRemotable& request);
// The same into a buffer the caller keeps from one exchange to the next (cleared first), so
// that a large reply does not take fresh memory every time.
void PostXmlDaRequest(TVelqorSOAPData& settings, std::string_view operation,
                      const TRemotable& request, std::string& response);
// Posts a request text written by WriteXmlDaRequest (response cleared first); errors as for
// PostXmlDaRequest.
void PostXmlDaText(TVelqorSOAPData& settings, const std::string& soapAction,
                   const std::string& body, std::string& response);
void ReadXmlDaReply(std::string_view response, std::string_view operation, TRemotable& reply,
                    TXmlDaReplyShape* shape = nullptr, const THTTPPost* poster = nullptr);

// One exchange for a request record of any of the eight operations; fills reply (a new, empty
// record of the operation's reply class) and, when given, shape.
void CallXmlDaOperation(TVelqorSOAPData& settings, std::string_view operation,
                        const TRemotable& request, TRemotable& reply,
                        TXmlDaReplyShape* shape = nullptr);

// One exchange per request record: GetStatus, Read, Write, Subscribe, SubscriptionPolledRefresh,
// SubscriptionCancel, Browse, GetProperties. Returns the new reply record.
template <class Request>
std::unique_ptr<xmlda::XmlDaReply<Request>> CallOperation(TVelqorSOAPData& settings,
                                                          const Request& request,
                                                          TXmlDaReplyShape* shape = nullptr) {
    auto reply = std::make_unique<xmlda::XmlDaReply<Request>>();
    CallXmlDaOperation(settings, xmlda::XmlDaOperation<Request>::Name, request, *reply, shape);
    return reply;
}

}  // namespace velqor
