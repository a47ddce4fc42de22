#include "server/tls_policy.h"

#include <openssl/ssl.h>

namespace {

// The server's order: AES-128-GCM first (fast wherever AES is in hardware), ChaCha20-Poly1305
// last, for clients without it.
constexpr const char* TLS12_SUITES =
    "ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:"
    "ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:"
    "ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305";

}  // namespace

bool applyTlsPolicy(boost::asio::ssl::context& context, std::string& error) {
    context.set_options(boost::asio::ssl::context::default_workarounds |
                        boost::asio::ssl::context::no_sslv2 | boost::asio::ssl::context::no_sslv3 |
                        boost::asio::ssl::context::no_tlsv1 |
                        boost::asio::ssl::context::no_tlsv1_1);
    SSL_CTX* native = context.native_handle();
    SSL_CTX_set_options(native, SSL_OP_CIPHER_SERVER_PREFERENCE);
    if (SSL_CTX_set_cipher_list(native, TLS12_SUITES) != 1) {
        error = "OpenSSL supports none of the TLS 1.2 suites " + std::string(TLS12_SUITES);
        return false;
    }
    return true;
}
