#include <cstdio>

#include "http/CurlTls.h"

namespace velqor {

// Schannel verifies against the Windows certificate store, plus the private authority's PEM
// file when one is named. It cannot be told to let only a date error through, so a bad
// certificate the user accepted for this server skips the chain and host checks altogether.
void SetTlsChecks(CURL* h, TTlsChecks& checks) {
    const bool verify = !checks.acceptBadCertificate;
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
    // Schannel would report an unreadable authority file as an untrusted server.
    if (!checks.caFile.empty()) {
        if (std::FILE* f = std::fopen(checks.caFile.c_str(), "rb")) {
            std::fclose(f);
        } else {
            checks.error = "cannot read the certificate authority file '" + checks.caFile + "'";
        }
    }
    curl_easy_setopt(h, CURLOPT_CAINFO, checks.caFile.empty() ? nullptr : checks.caFile.c_str());
}

}  // namespace velqor
