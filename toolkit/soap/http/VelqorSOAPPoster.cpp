#include "soap/http/VelqorSOAPPoster.h"

#include <cctype>
#include <mutex>

#include "soap/http/VelqorCurlPost.h"

namespace velqor {

namespace {

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
    return s;
}

bool SameTextNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::mutex& ProviderMutex() {
    static std::mutex mu;
    return mu;
}
TCredentialsProvider& ProviderSlot() {
    static TCredentialsProvider provider;
    return provider;
}

}  // namespace

std::string CallParam(const std::vector<std::string>& lines, std::string_view name) {
    for (const auto& line : lines) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        if (SameTextNoCase(TrimBlanks(std::string_view(line).substr(0, eq)), name))
            return std::string(TrimBlanks(std::string_view(line).substr(eq + 1)));
    }
    return {};
}

void SetCredentialsProvider(TCredentialsProvider provider) {
    std::lock_guard lock(ProviderMutex());
    ProviderSlot() = std::move(provider);
}

TCredentialsProvider GetCredentialsProvider() {
    std::lock_guard lock(ProviderMutex());
    return ProviderSlot();
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
    // "ms" named the platform poster of the original system; libcurl is the only poster here,
    // so every name gives it.
    (void)postBy;
    std::unique_ptr<THTTPPost> poster = std::make_unique<TVelqorCurlPost>();
    poster->SetUserName(user);
    poster->SetPassword(password);
    poster->SetURL(url);
    poster->SetProxy(proxy);
    poster->SetUserAgent(std::string(kDefaultUserAgent));
    return poster;
}

std::unique_ptr<THTTPPost> CreatePoster(const TVelqorSOAPData& settings) {
    auto poster = CreatePoster(settings.URL, settings.Proxy, settings.User, settings.PostBy,
                               settings.Password);
    poster->SetCAFile(settings.CAFile);
    return poster;
}

void PostOnce(const std::string& url, const std::string& proxy, const std::string& user,
              const std::string& password, const std::string& postBy,
              const std::string& soapAction, std::string_view request, std::string& response) {
    auto poster = CreatePoster(url, proxy, user, postBy, password);
    poster->Post(soapAction, request, response);
}

void PostOnce(const TVelqorSOAPData& settings, const std::string& soapAction,
              std::string_view request, std::string& response) {
    auto poster = CreatePoster(settings);
    poster->Post(soapAction, request, response);
}

}  // namespace velqor
