// Asking the user for credentials when a server or proxy refuses a request without them. The
// application installs one provider for the process; transports that can be refused (the HTTP
// poster) call it on the thread that posts.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace velqor {

struct TCredentialsRequest {
    std::string URL;    // the service asked for
    std::string Proxy;  // the proxy, when ForProxy
    std::string Realm;  // the realm the server named, may be empty
    bool ForProxy = false;
    int Attempt = 1;  // 1 for the first question of an exchange, 2 after a refusal, ...
};
struct TCredentials {
    std::string User;
    std::string Password;
};
// Returns the credentials, or nothing when the user cancels (the exchange then ends with the
// silent abort EAbort). Called on the thread that posts, which may be a poll thread.
using TCredentialsProvider = std::function<std::optional<TCredentials>(const TCredentialsRequest&)>;

// Installs the application's provider (an empty function removes it). Without a provider a
// 401/407 is reported as the HTTP status error. Thread-safe.
void SetCredentialsProvider(TCredentialsProvider provider);
TCredentialsProvider GetCredentialsProvider();

}  // namespace velqor
