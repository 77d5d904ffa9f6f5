#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include "http/CurlTls.h"

namespace velqor {

namespace {

// Accepts certificates that are only out of their validity period (when the user said so for
// this server); every other verification failure (unknown or self-signed authority, bad
// signature, ...) still refuses the server.
int AcceptDateErrors(int preverifyOk, X509_STORE_CTX* ctx) {
    if (preverifyOk) return 1;
    const int err = X509_STORE_CTX_get_error(ctx);
    if (err == X509_V_ERR_CERT_HAS_EXPIRED || err == X509_V_ERR_CERT_NOT_YET_VALID) {
        X509_STORE_CTX_set_error(ctx, X509_V_OK);
        return 1;
    }
    return 0;
}

CURLcode OnSslContext(CURL*, void* sslctx, void* user) {
    auto* checks = static_cast<TTlsChecks*>(user);
    auto* ctx = static_cast<SSL_CTX*>(sslctx);
    if (!checks->caFile.empty()) {
        X509_STORE* store = SSL_CTX_get_cert_store(ctx);
        if (!store || X509_STORE_load_locations(store, checks->caFile.c_str(), nullptr) != 1) {
            ERR_clear_error();
            checks->error = "cannot read the certificate authority file '" + checks->caFile + "'";
            return CURLE_SSL_CACERT_BADFILE;
        }
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER,
                       checks->acceptBadCertificate ? AcceptDateErrors : nullptr);
    return CURLE_OK;
}

}  // namespace

// The chain is verified (system trust store plus the optional private authority), and so are
// the host name and the dates unless the user accepted a bad certificate for this server.
void SetTlsChecks(CURL* h, TTlsChecks& checks) {
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, checks.acceptBadCertificate ? 0L : 2L);
    curl_easy_setopt(h, CURLOPT_CA_CACHE_TIMEOUT, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_CTX_FUNCTION, &OnSslContext);
    curl_easy_setopt(h, CURLOPT_SSL_CTX_DATA, static_cast<void*>(&checks));
}

}  // namespace velqor
