// XML-DA requests written as the client sends them, for comparing with the documents they must be.
#pragma once

#include <memory>
#include <string>

#include "xmlda/VelqorSOAPCall.h"

namespace velqor::test {

// The whole envelope of request as the client sends it; action, when given, receives the SOAP
// action.
template <class Request>
std::string WriteRequest(const Request& request, std::string* action = nullptr) {
    std::string soapAction;
    std::string text =
        WriteXmlDaRequest({}, xmlda::XmlDaOperation<Request>::Name, request, soapAction);
    if (action) *action = soapAction;
    return text;
}

// Requests with the fields of ones in the captured traffic: the writer's tests check their exact
// documents, the capture tests compare them with what the peers exchanged.
inline std::unique_ptr<xmlda::GetStatus> CapturedGetStatus() {
    auto g = std::make_unique<xmlda::GetStatus>();
    g->LocaleID = "en";
    g->ClientRequestHandle = "TestClient";
    return g;
}
inline std::unique_ptr<xmlda::SubscriptionCancel> CapturedSubscriptionCancel() {
    auto c = std::make_unique<xmlda::SubscriptionCancel>();
    c->ServerSubHandle = "163121520";
    c->ClientRequestHandle = "g6SG8duDHQtsuaEI";
    return c;
}

}  // namespace velqor::test
