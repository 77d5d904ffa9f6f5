#include "xmlda/VelqorXML.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "contract/VelqorError.h"
#include "soap/VelqorSOAPEncoding.h"

namespace velqor {

void TVelqorXMLConnection::Connect(const std::string& clientName, const std::string& serverName,
                                   const std::string& computerName, const ParamLines& params,
                                   velqor::NotifyWindow window, int32_t /*connectDelay*/) {
    if (TrimBlanks(serverName).empty())
        throw Exception(std::string(kFirstDefineTargetURL) + "\r\n" +
                        std::string(kXmlDaUrlExample));
    computerName_ = computerName;
    url_ = serverName;  // kept as given, blanks included
    clientName_ = clientName;
    notifyWindow_ = std::move(window);
    user_ = CallParam(params, kParamUser);
    password_ = CallParam(params, kParamPassword);
    proxy_ = CallParam(params, kParamProxy);
    postBy_ = CallParam(params, kParamPostBy);
    std::transform(postBy_.begin(), postBy_.end(), postBy_.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    caFile_ = CallParam(params, kParamCAFile);
    compression_ = CompressionWanted(params);
    acceptBadCertificate_ = BadCertificateAccepted(params);
    const std::string timeout = CallParam(params, kParamTimeout);
    char* end = nullptr;
    const long long ms = std::strtoll(timeout.c_str(), &end, 10);
    totalTimeout_ =
        !timeout.empty() && *end == '\0' && ms > 0 ? int(std::min<long long>(ms, INT32_MAX)) : 0;
    StatusCheck();
}

void TVelqorXMLConnection::Disconnect() { callSettings_.reset(); }

void TVelqorXMLConnection::SetLocaleId(int32_t /*localeId*/) {
    throw Exception(MsgText(Msg::NotImplemented));
}

com::IUnknown* TVelqorXMLConnection::ConnectionObject() {
    return static_cast<IVelqorDAConnection*>(this);
}

bool TVelqorXMLConnection::SetClientName(const std::string& name) {
    clientName_ = name;
    return true;
}

TVelqorSOAPData& TVelqorXMLConnection::GetCallSettings() {
    const bool create = !callSettings_;
    if (create) callSettings_ = std::make_unique<TVelqorSOAPData>();
    TVelqorSOAPData& s = *callSettings_;
    s.URL = url_;
    s.Namespace = std::string(xmlda::kXmlDaNamespace);
    s.Proxy = proxy_;
    s.User = user_;
    s.Password = password_;
    s.CAFile = caFile_;
    s.AcceptBadCertificate = acceptBadCertificate_;
    s.TotalTimeout = totalTimeout_;
    s.Compression = compression_;
    s.NotifyWindow = notifyWindow_;
    s.PostBy = postBy_;
    if (create) s.Poster = CreatePoster(s);
    return s;
}

TVelqorSOAPData TVelqorXMLConnection::SnapshotCallSettings() {
    TVelqorSOAPData copy;
    static_cast<TVelqorCallSettings&>(copy) = GetCallSettings();  // every field but the poster
    return copy;
}

void tVelqorXMLServerBrowser::GetServerList(tVelqorServerSet serverTypes,
                                            const std::string& computerName, int32_t flags,
                                            const TServerReport& /*onServer*/) {
    serverTypes_ = serverTypes;
    computerName_ = computerName;
    flags_ = flags;
    throw Exception(MsgText(Msg::NotImplemented));
}

}  // namespace velqor
