#include "xmlda/VelqorSOAPCall.h"

#include "contract/VelqorError.h"
#include "soap/VelqorSOAPEncoding.h"
#include "xmlda/VelqorSOAPCallIO.h"

namespace velqor {

std::string WriteXmlDaRequest(std::string_view nameSpace, std::string_view operation,
                              const TRemotable& request, std::string& soapAction) {
    TVelqorSOAPTextWriter writer;
    UseXmlDaClientRules(writer);
    std::string text =
        writer.Write(nameSpace.empty() ? xmlda::kXmlDaNamespace : nameSpace, operation, request);
    soapAction = std::move(writer.SOAPAction);
    return text;
}

namespace {

// Posts the request; a failure of the poster becomes EVelqorSOAPConnect after the shutdown
// message. The silent abort stays silent and tells nobody.
void Post(TVelqorSOAPData& settings, const std::string& soapAction, const std::string& request,
          std::string& response) {
    try {
        if (settings.Poster)
            settings.Poster->Execute(soapAction, request, response);
        else
            PostOnce(settings, soapAction, request, response);
    } catch (const EAbort&) {
        throw;
    } catch (const std::exception& e) {
        if (settings.NotifyWindow) settings.NotifyWindow->Post(WM_VELQOR_SHUTDOWN, 0);
        throw EVelqorSOAPConnect(e.what());
    }
}

}  // namespace

bool TXmlDaReplyShape::Has(std::string_view name) const {
    for (const auto& e : Elements)
        if (e == name) return true;
    return false;
}

std::string PostXmlDaRequest(TVelqorSOAPData& settings, std::string_view operation,
                             const TRemotable& request) {
    std::string response;
    PostXmlDaRequest(settings, operation, request, response);
    return response;
}

void PostXmlDaRequest(TVelqorSOAPData& settings, std::string_view operation,
                      const TRemotable& request, std::string& response) {
    std::string soapAction;
    const std::string body = WriteXmlDaRequest(settings.Namespace, operation, request, soapAction);
    PostXmlDaText(settings, soapAction, body, response);
}

void PostXmlDaText(TVelqorSOAPData& settings, const std::string& soapAction,
                   const std::string& body, std::string& response) {
    response.clear();
    Post(settings, soapAction, body, response);
}

void ReadXmlDaReply(std::string_view response, std::string_view operation, TRemotable& reply,
                    TXmlDaReplyShape* shape, const THTTPPost* poster) {
    TVelqorSoapReader reader;
    try {
        reader.Parse(response);  // a SOAP fault raises here
    } catch (const EVelqorSOAPFault&) {
        throw;
    } catch (const std::exception& e) {
        // A body that is no SOAP reply under an HTTP error status: the status says what it is.
        if (poster && poster->LastStatus() >= 300)
            throw EVelqorSOAPConvertError(poster->LastStatusText() + ": " + e.what());
        throw;
    }
    if (!reader.ResultElement) return;
    // The reply of another operation, or anything else in the body, answers nothing asked.
    const std::string expected = std::string(operation) + "Response";
    if (!SameTextNoCase(reader.ResultElement.LocalName(), expected))
        throw EOPCServerException(MsgFormat(Msg::WrongResult, operation) + ": " +
                                  std::string(reader.ResultElement.LocalName()) + " instead of " +
                                  expected);
    reader.ReadRecord(reader.ResultElement, reply);
    if (shape) {
        shape->HasResult = true;
        for (dom::XmlNode n = reader.ResultElement.FirstChild(); n; n = n.NextSibling())
            if (n.IsElement()) shape->Elements.emplace_back(n.LocalName());
    }
}

void CallXmlDaOperation(TVelqorSOAPData& settings, std::string_view operation,
                        const TRemotable& request, TRemotable& reply, TXmlDaReplyShape* shape) {
    const std::string response = PostXmlDaRequest(settings, operation, request);
    ReadXmlDaReply(response, operation, reply, shape, settings.Poster.get());
}

}  // namespace velqor
