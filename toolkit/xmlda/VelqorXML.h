// The XML transport's connection base and its server-list browser.
//
// TVelqorXMLConnection keeps what every XML-DA exchange needs: the service address, the HTTP
// credentials and proxy (from the component's Params lines), the client name, the component's
// notification window, and the call settings with their persistent poster. The XML-DA connection
// (VelqorXMLDA.h) derives from it and adds the DA operations.
//
// Threads: every operation runs on the thread that owns the server component. A poll thread
// never uses the connection's call settings; it takes a SnapshotCallSettings() copy (made on the
// owning thread) and gives it a poster of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "contract/VelqorTransport.h"
#include "runtime/Unknown.h"
#include "xmlda/VelqorSOAPCall.h"
#include "xmlda/VelqorSOAPData.h"
#include "xmlda/VelqorXMLDAStream.h"

namespace velqor {

// The locale text this transport sends wherever a request has a LocaleID.
inline constexpr std::string_view kXmlDaLocale = "en";

// First line of the error raised by Connect for a blank server name; the second line is
// kXmlDaUrlExample.
inline constexpr std::string_view kFirstDefineTargetURL = "first define target URL";
inline constexpr std::string_view kXmlDaUrlExample = "for example: http://localhost:8080/opc/xmlda";

// Common base of the XML connection and the XML server-list browser: one integer given at
// creation (the factories pass 0).
class TVelqorXMLComponent {
  public:
    explicit TVelqorXMLComponent(int32_t tag = 0) : tag_(tag) {}
    virtual ~TVelqorXMLComponent() = default;
    int32_t Tag() const { return tag_; }

  private:
    int32_t tag_;
};

// IVelqorConnection for a web service. The DA slots of IVelqorDAConnection are left to the
// XML-DA connection; this class is not created on its own.
class TVelqorXMLConnection : public com::ComObject<IVelqorDAConnection>,
                             public TVelqorXMLComponent {
  public:
    explicit TVelqorXMLConnection(int32_t tag = 0) : TVelqorXMLComponent(tag) {}

    // IVelqorConnection
    // Blank serverName: plain Exception "first define target URL" CR LF example; nothing is
    // stored. Otherwise stores the names, window and Params values, then runs StatusCheck.
    void Connect(const std::string& clientName, const std::string& serverName,
                 const std::string& computerName, const ParamLines& params,
                 velqor::NotifyWindow window, int32_t connectDelay) override;
    void Disconnect() override;  // frees the call settings and their poster
    int32_t GetLocaleId() override { return localeId_; }
    void SetLocaleId(int32_t localeId) override;  // "Not implemented"
    int32_t SpecVersion() override { return 4; }
    com::IUnknown* ConnectionObject() override;  // this object
    tVelqorConnectionType ConnectionType() override { return coXML; }
    bool SetClientName(const std::string& name) override;  // stores it; sends nothing
    bool CheckConnection() override { return true; }

    // The call settings, created with their poster on first use; URL, Namespace, Proxy, User,
    // Password, CAFile, AcceptBadCertificate, TotalTimeout, Compression, NotifyWindow and
    // PostBy are copied in on every call (the poster made at creation keeps its own address
    // and credentials).
    TVelqorSOAPData& GetCallSettings();
    // A copy of the call settings' fields without a poster, for a poll thread's own settings.
    // Owning thread only.
    TVelqorSOAPData SnapshotCallSettings();
    bool HasCallSettings() const { return callSettings_ != nullptr; }

    // One exchange through the connection's call settings.
    template <class Request>
    std::unique_ptr<xmlda::XmlDaReply<Request>> Call(const Request& request,
                                                     TXmlDaReplyShape* shape = nullptr) {
        return CallOperation(GetCallSettings(), request, shape);
    }
    // The same for an operation whose reply carries long item lists (Read, Subscribe): the
    // reply is streamed where it can be (VelqorXMLDAStream.h). A quiet exchange's failed post
    // tells the notification window nothing: the caller handles the failure itself (the next
    // call's settings have the window again).
    template <class Request>
    std::unique_ptr<xmlda::XmlDaReply<Request>> CallStreamed(const Request& request,
                                                             bool quiet = false) {
        TVelqorSOAPData& settings = GetCallSettings();
        if (quiet) settings.NotifyWindow = nullptr;
        constexpr std::string_view operation = xmlda::XmlDaOperation<Request>::Name;
        const std::string response = PostXmlDaRequest(settings, operation, request);
        return ReadItemListReply<xmlda::XmlDaReply<Request>>(response, operation,
                                                             settings.Poster.get());
    }
    // The same with the reply's Items handed to onItem as they are read, none kept
    // (ReadItemListReply). The request is dropped once its text is written, so that a large
    // one is not held while its reply is read.
    template <class Request>
    std::unique_ptr<xmlda::XmlDaReply<Request>> CallStreamed(
        std::unique_ptr<Request> request, bool quiet, const TItemSink& onItem,
        const std::function<void()>& onRestart) {
        TVelqorSOAPData& settings = GetCallSettings();
        if (quiet) settings.NotifyWindow = nullptr;
        constexpr std::string_view operation = xmlda::XmlDaOperation<Request>::Name;
        std::string response;
        {
            std::string soapAction;
            const std::string body =
                WriteXmlDaRequest(settings.Namespace, operation, *request, soapAction);
            request.reset();
            PostXmlDaText(settings, soapAction, body, response);
        }
        return ReadItemListReply<xmlda::XmlDaReply<Request>>(
            response, operation, settings.Poster.get(), onItem, onRestart);
    }

    const std::string& URL() const { return url_; }
    const std::string& ClientName() const { return clientName_; }
    const std::string& User() const { return user_; }
    const std::string& Password() const { return password_; }
    const std::string& Proxy() const { return proxy_; }
    const std::string& ComputerName() const { return computerName_; }
    const std::string& PostBy() const { return postBy_; }
    const std::string& CAFile() const { return caFile_; }  // "xml-cafile"
    int TotalTimeout() const { return totalTimeout_; }     // "xml-timeout", ms; 0 default
    bool Compression() const { return compression_; }      // "xml-compress"; on by default
    bool AcceptBadCertificate() const { return acceptBadCertificate_; }  // "xml-accept-bad-cert"
    const velqor::NotifyWindow& NotifyWindow() const { return notifyWindow_; }
    std::string_view LocaleText() const { return kXmlDaLocale; }

  protected:
    // Run at the end of Connect; failing it fails Connect. Nothing here.
    virtual void StatusCheck() {}
    void SetNotifyWindow(velqor::NotifyWindow window) { notifyWindow_ = std::move(window); }

  private:
    int32_t localeId_ = 0;
    std::string url_, clientName_, user_, password_, proxy_, computerName_, postBy_, caFile_;
    int totalTimeout_ = 0;
    bool compression_ = true;
    bool acceptBadCertificate_ = false;
    velqor::NotifyWindow notifyWindow_;
    std::unique_ptr<TVelqorSOAPData> callSettings_;
};

// The XML transport's server list: there is no way to enumerate web services, so GetServerList
// stores its arguments and raises "Not implemented" without reporting anything.
class tVelqorXMLServerBrowser : public com::ComObject<IVelqorServerBrowser>,
                                public TVelqorXMLComponent {
  public:
    explicit tVelqorXMLServerBrowser(int32_t tag = 0) : TVelqorXMLComponent(tag) {}
    void GetServerList(tVelqorServerSet serverTypes, const std::string& computerName, int32_t flags,
                       const TServerReport& onServer) override;
    std::vector<std::string> Gaps() override { return {}; }  // the one URL, or nothing

  private:
    tVelqorServerSet serverTypes_ = 0;
    std::string computerName_;
    int32_t flags_ = 0;
};

}  // namespace velqor
