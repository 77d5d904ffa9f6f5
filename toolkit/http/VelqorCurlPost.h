// The poster over libcurl: one easy handle inside its own multi handle per poster, so the
// server connection stays in the multi handle's cache between posts and an exchange can be
// woken from another thread (Abort).
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "http/VelqorSOAPPoster.h"

typedef void CURL;
typedef void CURLM;
struct curl_slist;

namespace velqor {

class TVelqorCurlPost : public THTTPPost {
  public:
    // URL schemes, numbered as the Windows internet library numbers them.
    enum TScheme : int { schemeNone = 0, schemeHTTP = 3, schemeHTTPS = 4 };

    // Used when a time-out is 0: finite, and the receive time-out long enough for a poll that
    // the server holds open for its hold and wait times.
    static constexpr int kDefaultConnectTimeoutMs = 30000;
    static constexpr int kDefaultSendTimeoutMs = 60000;
    static constexpr int kDefaultReceiveTimeoutMs = 300000;
    // A response body larger than this is an error, not an out-of-memory.
    static constexpr std::size_t kMaxResponseBytes = std::size_t{64} << 20;
    // How often the user is asked for credentials within one exchange before the 401/407
    // is reported as an error.
    static constexpr int kMaxCredentialQuestions = 5;

    TVelqorCurlPost();
    ~TVelqorCurlPost() override;

    void Post(const std::string& soapAction, std::string_view request,
              std::string& response) override;

    // The pieces of URL as the last connect cracked them.
    TScheme Scheme() const { return scheme_; }
    const std::string& Host() const { return host_; }
    uint16_t Port() const { return port_; }
    const std::string& URLPath() const { return urlPath_; }

    struct Transfer;  // the state of one exchange, seen by the libcurl callbacks

  protected:
    void DoConnect(bool open) override;
    void WakeUp() override;

  private:
    void CrackURL();
    void ConfigureHandle();
    // Runs one transfer to its end; returns libcurl's result.
    int Perform(Transfer& t, std::string_view request);
    // Asks the installed provider for credentials; false when none can be had.
    bool AskCredentials(bool forProxy, const std::string& realm, int attempt);
    [[noreturn]] void Fail(const std::string& message) const;

    CURL* easy_ = nullptr;
    CURLM* multi_ = nullptr;
    std::mutex multiMu_;  // guards multi_ against the wake-up from Abort()
    char errorBuffer_[256 + 1] = {};

    TScheme scheme_ = schemeNone;
    std::string host_, urlPath_, effectiveURL_;
    uint16_t port_ = 80;

    // Credentials the user gave when asked, kept for later posts to the same URL.
    std::string askedURL_, askedUser_, askedPassword_, askedProxyUser_, askedProxyPassword_;
};

}  // namespace velqor
