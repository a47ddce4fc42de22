#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>
#include <sstream>

#include "server/server_config.h"
#include "tests/server/temp_folder.h"

namespace {

using testing::HasSubstr;

std::string pem(int (*write)(BIO*, void*), void* object) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    write(bio.get(), object);
    char* data = nullptr;
    long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

std::string keyPem(EVP_PKEY* key) {
    return pem(
        [](BIO* bio, void* key) {
            return PEM_write_bio_PrivateKey(bio, static_cast<EVP_PKEY*>(key), nullptr, nullptr, 0,
                                            nullptr, nullptr);
        },
        key);
}

// A certificate for CN=usb3k-test, valid for a day from now, signed by its own key.
std::string certificatePem(EVP_PKEY* key) {
    std::unique_ptr<X509, decltype(&X509_free)> certificate(X509_new(), &X509_free);
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -60);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 24 * 60 * 60);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("usb3k-test"), -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    X509_set_pubkey(certificate.get(), key);
    X509_sign(certificate.get(), key, EVP_sha256());
    return pem(
        [](BIO* bio, void* x509) { return PEM_write_bio_X509(bio, static_cast<X509*>(x509)); },
        certificate.get());
}

TEST(CheckConfig, ReportsWhatWouldBeServedAndEveryProblem) {
    TempFolder folder;
    ServerOptions options;
    options.queueTimeout = std::chrono::seconds(120);
    std::ostringstream report;
    EXPECT_TRUE(checkServerOptions(options, report));
    EXPECT_EQ(report.str(),
              "usb3k-server would serve:\n"
              "  listen                     127.0.0.1:8443 (loopback); a socket from systemd "
              "replaces it\n"
              "  tls                        off: plain HTTP\n"
              "  tokens                     none: requests need no token\n"
              "  insecure                   false\n"
              "  queue-timeout              120s\n"
              "  idle-timeout               60s\n"
              "  drain-timeout              30s\n"
              "  reconnect-timeout          30s\n"
              "  read-timeout               30s\n"
              "  write-timeout              30s\n"
              "  max-header-bytes           8192\n"
              "  max-body-bytes             16777216\n"
              "  max-message-frames         250\n"
              "  max-in-flight              4\n"
              "  max-connections            256\n"
              "  max-connections-per-token  32\n"
              "  max-queued                 64\n"
              "configuration ok\n");

    // A certificate made here, its own key, and a key of another.
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(EVP_EC_gen("P-256"), &EVP_PKEY_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> other(EVP_EC_gen("P-256"), &EVP_PKEY_free);
    options.listen = "0.0.0.0:8443";
    options.tlsCert = folder.write("server.pem", certificatePem(key.get()));
    options.tlsKey = folder.write("server.key", keyPem(key.get()));
    options.tokenFile = folder.write("tokens", "live:s3cret\n");
    report.str("");
    EXPECT_TRUE(checkServerOptions(options, report)) << report.str();
    EXPECT_THAT(report.str(), HasSubstr("  tls                        " + options.tlsCert +
                                        " (/CN=usb3k-test, valid until "));
    EXPECT_THAT(report.str(),
                HasSubstr("  tokens                     from " + options.tokenFile + "\n"));

    options.tlsKey = folder.write("other.key", keyPem(other.get()));
    options.tokenFile = folder.write("shared-tokens", "live:s3cret\n", 0644);
    report.str("");
    EXPECT_FALSE(checkServerOptions(options, report));
    EXPECT_THAT(report.str(), HasSubstr("\nerror: tls: " + options.tlsKey +
                                        ": not a PEM private key for this certificate: "));
    EXPECT_THAT(report.str(), HasSubstr("\nerror: token-file: token file " + options.tokenFile +
                                        ": its group or others may read or write it (mode 0644)"));
    EXPECT_THAT(report.str(), HasSubstr("\nconfiguration refused\n"));

    options.tlsKey = folder.write("not-a-key", "hello\n");
    options.tokenFile.clear();
    report.str("");
    EXPECT_FALSE(checkServerOptions(options, report));
    EXPECT_THAT(report.str(), HasSubstr("\nerror: tls: " + options.tlsKey + ": not a PEM"));
    EXPECT_THAT(report.str(),
                HasSubstr("\nerror: refusing to serve 0.0.0.0, which is not loopback, without "
                          "tokens"));
}

}  // namespace
