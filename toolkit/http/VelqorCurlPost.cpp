#include "http/VelqorCurlPost.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>

#include "contract/VelqorError.h"
#include "http/CurlTls.h"

namespace velqor {

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kContentTypeLine[] = "Content-Type: text/xml; charset=\"utf-8\"";
constexpr char kInvalidURL[] = "no or invalid url";

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The media type of a Content-Type value: type/subtype in lower case, parameters and blanks
// dropped ("Text/HTML ; charset=utf-8" gives "text/html").
std::string MediaType(std::string_view contentType) {
    std::string_view t = contentType.substr(0, contentType.find(';'));
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return Lower(t);
}

std::string_view TrimSpace(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

// The realm="..." parameter of an authentication challenge, if any.
std::string RealmOf(std::string_view challenge) {
    const std::string lower = Lower(challenge);
    auto pos = lower.find("realm=");
    if (pos == std::string::npos) return {};
    std::string_view v = challenge.substr(pos + 6);
    if (!v.empty() && v.front() == '"') {
        v.remove_prefix(1);
        return std::string(v.substr(0, v.find('"')));
    }
    return std::string(TrimSpace(v.substr(0, v.find_first_of(", "))));
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && Lower(s.substr(0, prefix.size())) == Lower(prefix);
}

}  // namespace

struct TVelqorCurlPost::Transfer {
    CURL* easy = nullptr;
    std::string* response = nullptr;
    std::size_t responseStart = 0;
    bool overCap = false;
    std::string statusText;
    std::string realm, proxyRealm;
    TTlsChecks tls;
    std::size_t bodySize = 0;
    bool requestStarted = false;  // connected, request under way
    curl_off_t ulnow = 0, dlnow = 0;
    Clock::time_point lastActivity = Clock::now();

    static size_t OnWrite(char* data, size_t size, size_t n, void* user) {
        auto* t = static_cast<Transfer*>(user);
        const std::size_t bytes = size * n;
        if (t->response->size() - t->responseStart + bytes > kMaxResponseBytes) {
            t->overCap = true;
            return 0;
        }
        if (t->response->size() == t->responseStart) t->ReserveBody();
        t->response->append(data, bytes);
        t->lastActivity = Clock::now();
        return bytes;
    }

    // Room for the whole body when its length is announced, so that a large reply is not
    // grown by doubling (which holds the old and the new copy at once and leaves up to twice
    // its size). A compressed body is longer than announced and grows from there.
    void ReserveBody() {
        curl_off_t length = -1;
        if (curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK ||
            length <= 0 || std::size_t(length) > kMaxResponseBytes)
            return;
        response->reserve(responseStart + std::size_t(length));
    }

    static size_t OnHeader(char* data, size_t size, size_t n, void* user) {
        auto* t = static_cast<Transfer*>(user);
        const std::size_t bytes = size * n;
        std::string_view line(data, bytes);
        t->lastActivity = Clock::now();
        if (StartsWithNoCase(line, "HTTP/")) {
            // "HTTP/1.1 404 Not Found": a new response (after 100 Continue or a challenge).
            t->statusText.clear();
            auto sp = line.find(' ');
            if (sp != std::string_view::npos) {
                auto rest = line.substr(sp + 1);
                auto sp2 = rest.find(' ');
                if (sp2 != std::string_view::npos) t->statusText = TrimSpace(rest.substr(sp2 + 1));
            }
        } else if (StartsWithNoCase(line, "WWW-Authenticate:")) {
            if (t->realm.empty()) t->realm = RealmOf(line.substr(17));
        } else if (StartsWithNoCase(line, "Proxy-Authenticate:")) {
            if (t->proxyRealm.empty()) t->proxyRealm = RealmOf(line.substr(19));
        }
        return bytes;
    }

    static int OnProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
        auto* t = static_cast<Transfer*>(user);
        if (dlnow != t->dlnow || ulnow != t->ulnow) {
            t->dlnow = dlnow;
            t->ulnow = ulnow;
            t->lastActivity = Clock::now();
        }
        return 0;
    }

    static int OnPrereq(void* user, char*, char*, int, int) {
        auto* t = static_cast<Transfer*>(user);
        t->requestStarted = true;
        t->lastActivity = Clock::now();
        return CURL_PREREQFUNC_OK;
    }
};

TVelqorCurlPost::TVelqorCurlPost() {
    GlobalInit();
    EnterLive(this);
}

TVelqorCurlPost::~TVelqorCurlPost() {
    LeaveLive(this);
    DoConnect(false);
}

void TVelqorCurlPost::DoConnect(bool open) {
    if (!open) {
        CURLM* multi = nullptr;
        {
            std::lock_guard lock(multiMu_);
            std::swap(multi, multi_);
        }
        // Cleaning the multi handle closes the cached connection.
        if (easy_) curl_easy_cleanup(easy_);
        if (multi) curl_multi_cleanup(multi);
        easy_ = nullptr;
        return;
    }
    CrackURL();
    easy_ = curl_easy_init();
    CURLM* multi = curl_multi_init();
    if (!easy_ || !multi) {
        if (easy_) curl_easy_cleanup(easy_);
        if (multi) curl_multi_cleanup(multi);
        easy_ = nullptr;
        Fail("out of memory creating the HTTP handle");
    }
    curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, 1L);
    {
        std::lock_guard lock(multiMu_);
        multi_ = multi;
    }
    ConfigureHandle();
}

void TVelqorCurlPost::WakeUp() {
    std::lock_guard lock(multiMu_);
    if (multi_) curl_multi_wakeup(multi_);
}

void TVelqorCurlPost::CrackURL() {
    const std::string url(TrimSpace(URL()));
    if (url.empty()) throw Exception(kInvalidURL);
    CURLU* u = curl_url();
    if (!u) throw Exception(kInvalidURL);
    struct Free {
        CURLU* u;
        ~Free() { curl_url_cleanup(u); }
    } freeURL{u};
    if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) throw Exception(kInvalidURL);
    auto part = [&](CURLUPart which, unsigned flags) {
        char* text = nullptr;
        std::string out;
        if (curl_url_get(u, which, &text, flags) == CURLUE_OK && text) out = text;
        curl_free(text);
        return out;
    };
    const std::string scheme = Lower(part(CURLUPART_SCHEME, 0));
    if (scheme == "http")
        scheme_ = schemeHTTP;
    else if (scheme == "https")
        scheme_ = schemeHTTPS;
    else
        throw Exception(kInvalidURL);
    host_ = part(CURLUPART_HOST, 0);
    port_ = static_cast<uint16_t>(std::atoi(part(CURLUPART_PORT, CURLU_DEFAULT_PORT).c_str()));
    urlPath_ = part(CURLUPART_PATH, 0);
    const std::string query = part(CURLUPART_QUERY, 0);
    if (!query.empty()) urlPath_ += "?" + query;
    effectiveURL_ = url;
}

void TVelqorCurlPost::ConfigureHandle() {
    CURL* h = easy_;
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(h, CURLOPT_URL, effectiveURL_.c_str());
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    // gzip and deflate only: brotli costs a server far more time than the bytes it saves on a
    // plant network. Without compression, no Accept-Encoding is sent at all.
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, Compression() ? "gzip, deflate" : nullptr);
    curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
    const std::string agent = UserAgent() + " (libcurl)";
    curl_easy_setopt(h, CURLOPT_USERAGENT, agent.c_str());  // libcurl copies option texts
    // Without a proxy of its own the poster follows the environment's proxy settings.
    if (!Proxy().empty()) curl_easy_setopt(h, CURLOPT_PROXY, Proxy().c_str());
    curl_easy_setopt(h, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
    if (!ProxyBypass().empty()) {
        // The bypass list may be separated by semicolons; libcurl wants commas.
        std::string list = ProxyBypass();
        std::replace(list.begin(), list.end(), ';', ',');
        curl_easy_setopt(h, CURLOPT_NOPROXY, list.c_str());
    }
    curl_easy_setopt(h, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
    if (!UserName().empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, UserName().c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, Password().c_str());
    }
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxResponseBytes));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Transfer::OnWrite);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &Transfer::OnProgress);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &Transfer::OnPrereq);
}

void TVelqorCurlPost::Fail(const std::string& message) const {
    throw Exception(message + " - URL:" + URL() + " - SOAPAction:" + SOAPAction());
}

int TVelqorCurlPost::Perform(Transfer& t, std::string_view request) {
    CURL* h = easy_;
    void* data = &t;
    curl_easy_setopt(h, CURLOPT_WRITEDATA, data);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, data);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, data);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, data);
    SetTlsChecks(h, t.tls);
    const long connectMs = ConnectTimeout() > 0 ? ConnectTimeout() : kDefaultConnectTimeoutMs;
    const auto sendLimit =
        std::chrono::milliseconds(SendTimeout() > 0 ? SendTimeout() : kDefaultSendTimeoutMs);
    const auto receiveLimit = std::chrono::milliseconds(
        ReceiveTimeout() > 0 ? ReceiveTimeout() : kDefaultReceiveTimeoutMs);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
    const auto totalLimit = std::chrono::milliseconds(
        TotalTimeout() > 0 ? int64_t(TotalTimeout())
                           : int64_t(connectMs) + sendLimit.count() + receiveLimit.count());

    // The headers of this request; "Expect:" keeps libcurl from waiting for 100 Continue.
    struct curl_slist* headers = nullptr;
    const std::string actionLine = SOAPActionHeader(SOAPAction());
    // libcurl drops a header given as "Name:"; "Name;" sends it with an empty value.
    const std::string actionHeader =
        actionLine == "SOAPAction:" ? std::string("SOAPAction;") : actionLine;
    headers = curl_slist_append(headers, actionHeader.c_str());
    headers = curl_slist_append(headers, kContentTypeLine);
    headers = curl_slist_append(headers, "Expect:");
    struct FreeHeaders {
        curl_slist* list;
        CURL* h;
        ~FreeHeaders() {
            curl_easy_setopt(h, CURLOPT_HTTPHEADER, nullptr);
            curl_slist_free_all(list);
        }
    } freeHeaders{headers, h};
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);

    t.bodySize = request.size();
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.size()));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.empty() ? "" : request.data());

    if (!askedUser_.empty() && askedURL_ == URL() && UserName().empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, askedUser_.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, askedPassword_.c_str());
    }
    if (!askedProxyUser_.empty()) {
        curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, askedProxyUser_.c_str());
        curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, askedProxyPassword_.c_str());
    }

    errorBuffer_[0] = '\0';
    CURLM* multi = multi_;
    if (curl_multi_add_handle(multi, h) != CURLM_OK) Fail("cannot start the HTTP request");
    struct Remove {
        CURLM* m;
        CURL* h;
        ~Remove() { curl_multi_remove_handle(m, h); }
    } remove{multi, h};

    t.lastActivity = Clock::now();
    const auto deadline = t.lastActivity + totalLimit;
    auto slowAt = SlowNoticeMs() > 0 ? t.lastActivity + std::chrono::milliseconds(SlowNoticeMs())
                                     : Clock::time_point::max();
    int running = 1;
    while (true) {
        CURLMcode mc = curl_multi_perform(multi, &running);
        if (mc != CURLM_OK) Fail(curl_multi_strerror(mc));
        if (!running) break;
        if (AbortRequested()) throw EAbort();
        const auto now = Clock::now();
        if (now >= deadline)
            Fail("Timeout: the exchange did not complete within " +
                 std::to_string(totalLimit.count()) + " ms");
        if (now >= slowAt) {
            slowAt = Clock::time_point::max();
            SlowNotice();
        }
        auto wakeAt = std::min(deadline, slowAt);
        if (t.requestStarted) {
            const auto idle = now - t.lastActivity;
            const bool sending = t.ulnow < static_cast<curl_off_t>(t.bodySize);
            if (sending && idle > sendLimit)
                Fail("Send timeout: the request was not sent within " +
                     std::to_string(sendLimit.count()) + " ms");
            if (!sending && idle > receiveLimit)
                Fail("Receive timeout: no reply data within " +
                     std::to_string(receiveLimit.count()) + " ms");
            wakeAt = std::min(wakeAt, t.lastActivity + (sending ? sendLimit : receiveLimit) +
                                          std::chrono::milliseconds(1));
        }
        // Sleeps until socket activity, libcurl's own next timer, the next limit or a wake-up
        // from Abort, whichever comes first.
        const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(wakeAt - now).count();
        mc = curl_multi_poll(multi, nullptr, 0, int(std::clamp<int64_t>(waitMs, 1, INT_MAX)),
                             nullptr);
        if (mc != CURLM_OK) Fail(curl_multi_strerror(mc));
    }
    if (AbortRequested()) throw EAbort();
    int left = 0;
    CURLcode result = CURLE_OK;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left))
        if (msg->msg == CURLMSG_DONE && msg->easy_handle == h) result = msg->data.result;
    return result;
}

bool TVelqorCurlPost::AskCredentials(bool forProxy, const std::string& realm, int attempt) {
    if (attempt > kMaxCredentialQuestions) return false;
    auto provider = GetCredentialsProvider();
    if (!provider) return false;
    TCredentialsRequest request;
    request.URL = URL();
    request.Proxy = forProxy ? Proxy() : std::string();
    request.Realm = realm;
    request.ForProxy = forProxy;
    request.Attempt = attempt;
    auto answer = provider(request);
    if (!answer) throw EAbort();
    if (forProxy) {
        askedProxyUser_ = answer->User;
        askedProxyPassword_ = answer->Password;
    } else {
        askedURL_ = URL();
        askedUser_ = answer->User;
        askedPassword_ = answer->Password;
    }
    return true;
}

void TVelqorCurlPost::Post(const std::string& soapAction, std::string_view request,
                           std::string& response) {
    SetSOAPActionField(soapAction);
    try {
        if (AbortRequested()) throw EAbort();
        SetConnected(true);
        const std::size_t start = response.size();
        // Credentials given in the proxy text ("user:password@host") count as given.
        const bool proxyCredentialsGiven = Proxy().find('@') != std::string::npos;
        int questions = 0;
        while (true) {
            Transfer t;
            t.easy = easy_;
            t.response = &response;
            t.responseStart = start;
            t.tls.caFile = CAFile();
            t.tls.acceptBadCertificate = AcceptBadCertificate();
            const auto result = static_cast<CURLcode>(Perform(t, request));
            if (result != CURLE_OK) {
                if (!t.tls.error.empty()) Fail(t.tls.error);
                if (t.overCap || result == CURLE_FILESIZE_EXCEEDED)
                    Fail("response larger than " + std::to_string(kMaxResponseBytes) + " bytes");
                long connectCode = 0;
                curl_easy_getinfo(easy_, CURLINFO_HTTP_CONNECTCODE, &connectCode);
                if (connectCode == 407 && !proxyCredentialsGiven &&
                    AskCredentials(true, t.proxyRealm, ++questions)) {
                    response.resize(start);
                    continue;
                }
                Fail(errorBuffer_[0] ? std::string(errorBuffer_) : curl_easy_strerror(result));
            }
            long code = 0;
            curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
            const bool askServer = code == 401 && UserName().empty();
            const bool askProxy = code == 407 && !proxyCredentialsGiven;
            if ((askServer || askProxy) &&
                AskCredentials(askProxy, askProxy ? t.proxyRealm : t.realm, ++questions)) {
                response.resize(start);
                continue;
            }
            char* contentType = nullptr;
            curl_easy_getinfo(easy_, CURLINFO_CONTENT_TYPE, &contentType);
            const std::string mediaType = contentType ? MediaType(contentType) : std::string();
            const bool textPage = mediaType == "text/plain" || mediaType == "text/html";
            char text[64];
            std::snprintf(text, sizeof text, " (%ld) - '", code);
            SetLastStatus(int(code), t.statusText + text + URL() + "'");
            // Status 500 carries SOAP faults, which the reader raises from the body; a page of
            // text or HTML under it is an HTTP error like any other status.
            if (code >= 300 && (code != 500 || textPage)) throw Exception(LastStatusText());
            if (textPage)
                throw Exception(std::string("invalid content type: ") + contentType +
                                " - SOAP required \"text/xml\"");
            return;
        }
    } catch (...) {
        SetConnected(false);
        throw;
    }
}

}  // namespace velqor
