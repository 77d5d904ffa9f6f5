// The certificate checks of an HTTPS exchange, set on a libcurl handle. The TLS library behind
// libcurl differs by platform (OpenSSL here, the system's own Schannel on Windows), and so does
// the way a private authority and an accepted bad certificate are put to it: one file each in
// platform/.
#pragma once

#include <curl/curl.h>

#include <string>

namespace velqor {

struct TTlsChecks {
    std::string caFile;                 // a private authority trusted besides the system's
    bool acceptBadCertificate = false;  // the user accepted this server's bad certificate
    std::string error;                  // why the checks could not be set up, after a failure
};

// Sets the checks for the handle's next exchange; checks must outlive it.
void SetTlsChecks(CURL* handle, TTlsChecks& checks);

}  // namespace velqor
