// What TLS the server speaks: TLS 1.2 or later, and in TLS 1.2 only suites with forward secrecy
// and authenticated encryption (ECDHE with AES-GCM or ChaCha20-Poly1305), the server's order
// preferred. TLS 1.3's suites all are such.
#pragma once

#include <string>

#include <boost/asio/ssl/context.hpp>

// False, with `error` saying why, when OpenSSL takes none of the suites.
bool applyTlsPolicy(boost::asio::ssl::context& context, std::string& error);
