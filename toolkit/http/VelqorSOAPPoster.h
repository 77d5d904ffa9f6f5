// The HTTP poster: sends one serialised SOAP request by HTTP POST and hands back the response
// body. A poster keeps its server connection open between requests (keep-alive), drops it after
// any failure and reopens it on the next request.
//
// Threads: a poster serves one thread at a time. Only Abort() may be called from another thread
// (to stop an exchange promptly, for example when a poll thread is asked to stop), and
// InterruptAllPosts() from any thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "contract/VelqorCredentials.h"
#include "runtime/NonCopyable.h"

namespace velqor {

// Where and how a poster posts: a plain record that callers copy whole. Strings start empty,
// time-outs at 0 (the poster's finite default). ConnectTimeout bounds the connect, SendTimeout
// and ReceiveTimeout a silence while sending or receiving; TotalTimeout bounds the whole
// request/response, so that a peer trickling a byte now and then cannot hold a post for ever
// (0: the sum of the other three in effect).
struct THTTPPostSettings {
    std::string URL;       // the web service's address
    std::string Proxy;     // proxy server ("host:port"), empty for none
    std::string User;      // user name for the server, may be empty
    std::string Password;  // password for the server, may be empty
    std::string PostBy;    // name of the poster implementation
    std::string CAFile;    // extra trusted authorities (PEM file) for HTTPS, empty for none
    // HTTPS: accept a certificate that is out of its validity period or names another host.
    // Off by default: such a certificate lets anyone in the path read and change the traffic,
    // so only the user may turn this on, for one server. The chain must still verify.
    bool AcceptBadCertificate = false;
    int ConnectTimeout = 0, SendTimeout = 0, ReceiveTimeout = 0;  // milliseconds
    int TotalTimeout = 0;                                         // milliseconds
    bool Compression = true;  // offer gzip and deflate replies (off: ask for plain replies)
};

// The default user-agent text.
inline constexpr std::string_view kDefaultUserAgent = "Velqor XML DA Client";

// The SOAPAction header line for an action: "SOAPAction:" for an empty action,
// `SOAPAction: ""` for an action of two double quotes, otherwise the action in double quotes.
std::string SOAPActionHeader(std::string_view action);

// The abstract poster.
class THTTPPost : private TNonCopyable {
  public:
    virtual ~THTTPPost() = default;

    // One request/response exchange: the whole request body is sent, the response body is
    // appended to response. Errors are velqor::Exception (texts below); a cancelled credentials
    // question or Abort() give EAbort.
    virtual void Post(const std::string& soapAction, std::string_view request,
                      std::string& response) = 0;

    // Post; on any error disconnect, then the error goes on.
    void Execute(const std::string& soapAction, std::string_view request, std::string& response);

    bool Connected() const { return connected_; }
    // Opens or closes the connection when value differs from Connected().
    void SetConnected(bool value);

    // Changing one of these (exact comparison) disconnects first.
    void SetURL(const std::string& value);
    void SetProxy(const std::string& value);
    void SetUserName(const std::string& value);
    void SetPassword(const std::string& value);
    void SetCAFile(const std::string& value);
    void SetAcceptBadCertificate(bool value);
    // An empty text stores the default user agent.
    void SetUserAgent(const std::string& value);
    void SetProxyBypass(const std::string& value) { proxyBypass_ = value; }
    // Time-outs in milliseconds; 0 = the poster's finite default.
    void SetConnectTimeout(int ms) { connectTimeout_ = ms; }
    void SetSendTimeout(int ms) { sendTimeout_ = ms; }
    void SetReceiveTimeout(int ms) { receiveTimeout_ = ms; }
    void SetTotalTimeout(int ms) { totalTimeout_ = ms; }
    // Whether compressed replies are offered; changing it disconnects first.
    void SetCompression(bool value);
    // Called on the posting thread, once per exchange, when an exchange has run for ms
    // without completing (the exchange goes on); 0 or no function: never.
    void SetSlowNotice(int ms, std::function<void()> notice) {
        slowNoticeMs_ = ms;
        slowNotice_ = std::move(notice);
    }

    const std::string& URL() const { return url_; }
    const std::string& Proxy() const { return proxy_; }
    const std::string& ProxyBypass() const { return proxyBypass_; }
    const std::string& SOAPAction() const { return soapAction_; }
    const std::string& UserName() const { return userName_; }
    const std::string& Password() const { return password_; }
    const std::string& CAFile() const { return caFile_; }
    bool AcceptBadCertificate() const { return acceptBadCertificate_; }
    const std::string& UserAgent() const { return userAgent_; }
    int ConnectTimeout() const { return connectTimeout_; }
    int SendTimeout() const { return sendTimeout_; }
    int ReceiveTimeout() const { return receiveTimeout_; }
    int TotalTimeout() const { return totalTimeout_; }
    bool Compression() const { return compression_; }

    // Stops the running exchange (and every later one until ResetAbort) with EAbort. The only
    // operation that may be called from another thread; the poster must outlive the call.
    void Abort();
    void ResetAbort() { abort_.store(false); }
    // Also true for every poster once InterruptAllPosts() was called.
    bool AbortRequested() const;

    // The HTTP status of the last response that arrived (0 before any), and its words for an
    // error text: "Internal Server Error (500) - '<URL>'".
    int LastStatus() const { return lastStatus_; }
    const std::string& LastStatusText() const { return lastStatusText_; }

  protected:
    int SlowNoticeMs() const { return slowNotice_ ? slowNoticeMs_ : 0; }
    void SlowNotice() const { slowNotice_(); }
    // Opens (true) or closes (false) the connection.
    virtual void DoConnect(bool open) = 0;
    // Wakes a blocked exchange so that it notices AbortRequested(). Any thread.
    virtual void WakeUp() {}
    void SetSOAPActionField(const std::string& value) { soapAction_ = value; }
    // A poster that can be woken enters itself once fully built and leaves before it is taken
    // apart, so that InterruptAllPosts() only reaches whole objects.
    static void EnterLive(THTTPPost* poster);
    static void LeaveLive(THTTPPost* poster);
    void SetLastStatus(int status, std::string text) {
        lastStatus_ = status;
        lastStatusText_ = std::move(text);
    }

  private:
    bool connected_ = false;
    std::string proxy_, url_, proxyBypass_, soapAction_, userName_, password_, caFile_;
    int connectTimeout_ = 0, sendTimeout_ = 0, receiveTimeout_ = 0, totalTimeout_ = 0;
    bool compression_ = true;
    bool acceptBadCertificate_ = false;
    int slowNoticeMs_ = 0;
    std::function<void()> slowNotice_;
    int lastStatus_ = 0;
    std::string lastStatusText_;
    std::string userAgent_{kDefaultUserAgent};
    std::atomic<bool> abort_{false};
};

// Aborts every exchange under way in this process and every later one (EAbort): what a
// program does when its user interrupts it. Any thread; never undone.
void InterruptAllPosts();

// A new poster. Every PostBy value gives the libcurl poster (it is the only implementation);
// then user name, password, URL, proxy are set in this order, and the default user agent.
std::unique_ptr<THTTPPost> CreatePoster(const std::string& url, const std::string& proxy,
                                        const std::string& user, const std::string& postBy,
                                        const std::string& password);
// The same from a settings record (also takes the CA file and the time-outs).
std::unique_ptr<THTTPPost> CreatePoster(const THTTPPostSettings& settings);

// One exchange through a temporary poster, destroyed also on error.
void PostOnce(const std::string& url, const std::string& proxy, const std::string& user,
              const std::string& password, const std::string& postBy, const std::string& soapAction,
              std::string_view request, std::string& response);
void PostOnce(const THTTPPostSettings& settings, const std::string& soapAction,
              std::string_view request, std::string& response);

}  // namespace velqor
