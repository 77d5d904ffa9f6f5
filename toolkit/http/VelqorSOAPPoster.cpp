#include "http/VelqorSOAPPoster.h"

#include <mutex>
#include <set>

#include "contract/CallCancel.h"
#include "http/VelqorCurlPost.h"

namespace velqor {

namespace {

std::atomic<bool> g_interrupted{false};

struct LivePosters {
    std::mutex mu;
    std::set<THTTPPost*> posters;
};

LivePosters& Live() {
    static LivePosters live;  // never destroyed before a poster that outlives main
    return live;
}

}  // namespace

void THTTPPost::EnterLive(THTTPPost* poster) {
    // A cancelled call scope wakes every live poster; each goes back to sleep unless the
    // exchange it runs belongs to the cancelled scope's thread.
    static const int waker = CallCancelScope::AddWaker([] {
        std::lock_guard lock(Live().mu);
        for (THTTPPost* p : Live().posters) p->WakeUp();
    });
    (void)waker;
    std::lock_guard lock(Live().mu);
    Live().posters.insert(poster);
}

void THTTPPost::LeaveLive(THTTPPost* poster) {
    std::lock_guard lock(Live().mu);
    Live().posters.erase(poster);
}

bool THTTPPost::AbortRequested() const {
    return abort_.load() || g_interrupted.load() || CallCancelScope::CurrentCancelled();
}

void InterruptAllPosts() {
    g_interrupted.store(true);
    std::lock_guard lock(Live().mu);
    for (THTTPPost* p : Live().posters) p->Abort();
}

std::string SOAPActionHeader(std::string_view action) {
    if (action.empty()) return "SOAPAction:";
    if (action == "\"\"") return "SOAPAction: \"\"";
    std::string line = "SOAPAction: \"";
    line.append(action);
    line += '"';
    return line;
}

void THTTPPost::Execute(const std::string& soapAction, std::string_view request,
                        std::string& response) {
    try {
        Post(soapAction, request, response);
    } catch (...) {
        SetConnected(false);
        throw;
    }
}

void THTTPPost::SetConnected(bool value) {
    if (value == connected_) return;
    DoConnect(value);
    connected_ = value;
}

void THTTPPost::SetURL(const std::string& value) {
    if (value == url_) return;
    SetConnected(false);
    url_ = value;
}

void THTTPPost::SetProxy(const std::string& value) {
    if (value == proxy_) return;
    SetConnected(false);
    proxy_ = value;
}

void THTTPPost::SetUserName(const std::string& value) {
    if (value == userName_) return;
    SetConnected(false);
    userName_ = value;
}

void THTTPPost::SetPassword(const std::string& value) {
    if (value == password_) return;
    SetConnected(false);
    password_ = value;
}

void THTTPPost::SetCAFile(const std::string& value) {
    if (value == caFile_) return;
    SetConnected(false);
    caFile_ = value;
}

void THTTPPost::SetAcceptBadCertificate(bool value) {
    if (value == acceptBadCertificate_) return;
    SetConnected(false);
    acceptBadCertificate_ = value;
}

void THTTPPost::SetCompression(bool value) {
    if (value == compression_) return;
    SetConnected(false);
    compression_ = value;
}

void THTTPPost::SetUserAgent(const std::string& value) {
    userAgent_ = value.empty() ? std::string(kDefaultUserAgent) : value;
}

void THTTPPost::Abort() {
    abort_.store(true);
    WakeUp();
}

std::unique_ptr<THTTPPost> CreatePoster(const std::string& url, const std::string& proxy,
                                        const std::string& user, const std::string& postBy,
                                        const std::string& password) {
    // libcurl is the only poster, so every implementation name gives it.
    (void)postBy;
    std::unique_ptr<THTTPPost> poster = std::make_unique<TVelqorCurlPost>();
    poster->SetUserName(user);
    poster->SetPassword(password);
    poster->SetURL(url);
    poster->SetProxy(proxy);
    poster->SetUserAgent(std::string(kDefaultUserAgent));
    return poster;
}

std::unique_ptr<THTTPPost> CreatePoster(const THTTPPostSettings& settings) {
    auto poster = CreatePoster(settings.URL, settings.Proxy, settings.User, settings.PostBy,
                               settings.Password);
    poster->SetCAFile(settings.CAFile);
    poster->SetAcceptBadCertificate(settings.AcceptBadCertificate);
    poster->SetConnectTimeout(settings.ConnectTimeout);
    poster->SetSendTimeout(settings.SendTimeout);
    poster->SetReceiveTimeout(settings.ReceiveTimeout);
    poster->SetTotalTimeout(settings.TotalTimeout);
    poster->SetCompression(settings.Compression);
    return poster;
}

void PostOnce(const std::string& url, const std::string& proxy, const std::string& user,
              const std::string& password, const std::string& postBy, const std::string& soapAction,
              std::string_view request, std::string& response) {
    auto poster = CreatePoster(url, proxy, user, postBy, password);
    poster->Post(soapAction, request, response);
}

void PostOnce(const THTTPPostSettings& settings, const std::string& soapAction,
              std::string_view request, std::string& response) {
    auto poster = CreatePoster(settings);
    poster->Post(soapAction, request, response);
}

}  // namespace velqor
