#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "server/d2xx_state.h"
#include "server/listen_address.h"
#include "server/option_table.h"
#include "server/server_config.h"
#include "server/token_list.h"

namespace {

// File descriptors the server needs beyond its connections: the listening sockets, the devices,
// D2XX's and the log's.
constexpr std::size_t kSpareDescriptors = 64;

// OpenSSL's reason for the last failure, as one line.
std::string openSslReason() {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return "no reason given";
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

std::string asText(const ASN1_TIME* time) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
    if (!bio || ASN1_TIME_print(bio.get(), time) != 1) {
        return "?";
    }
    char* data = nullptr;
    long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

// Loads the certificate chain and key as a start would, and checks that they belong together and
// that the certificate is valid now. `description` is what the report shows of the certificate.
bool checkTls(const ServerOptions& options, std::string& description, std::string& error) {
    for (const std::string* file : {&options.tlsCert, &options.tlsKey}) {
        if (access(file->c_str(), R_OK) != 0) {
            error = *file + ": cannot be read";
            return false;
        }
    }
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_server_method()),
                                                              &SSL_CTX_free);
    if (!context) {
        error = "TLS: " + openSslReason();
        return false;
    }
    if (SSL_CTX_use_certificate_chain_file(context.get(), options.tlsCert.c_str()) != 1) {
        error = options.tlsCert + ": not a PEM certificate: " + openSslReason();
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(context.get(), options.tlsKey.c_str(), SSL_FILETYPE_PEM) != 1) {
        error = options.tlsKey + ": not a PEM private key for this certificate: " + openSslReason();
        return false;
    }
    if (SSL_CTX_check_private_key(context.get()) != 1) {
        error = options.tlsKey + ": not the key of " + options.tlsCert;
        return false;
    }
    X509* certificate = SSL_CTX_get0_certificate(context.get());
    char subject[256];
    X509_NAME_oneline(X509_get_subject_name(certificate), subject, sizeof subject);
    const ASN1_TIME* notAfter = X509_get0_notAfter(certificate);
    description = std::string(subject) + ", valid until " + asText(notAfter);
    if (X509_cmp_current_time(X509_get0_notBefore(certificate)) > 0) {
        error = options.tlsCert + ": not valid yet";
        return false;
    }
    if (X509_cmp_current_time(notAfter) < 0) {
        error = options.tlsCert + ": expired " + asText(notAfter);
        return false;
    }
    return true;
}

void row(std::ostream& report, const std::string& name, const std::string& value) {
    report << "  " << name << std::string(name.size() < 27 ? 27 - name.size() : 1, ' ') << value
           << "\n";
}

}  // namespace

bool servingAllowed(const ServerOptions& options, const std::string& host, std::string& error,
                    std::string& warning) {
    warning.clear();
    if (options.tlsCert.empty() != options.tlsKey.empty()) {
        error = "TLS needs both --tls-cert and --tls-key";
        return false;
    }
    if (isLoopback(host)) {
        return true;
    }
    std::string missing;
    if (options.tlsCert.empty()) {
        missing = "TLS";
    }
    if (options.tokenFile.empty()) {
        missing += missing.empty() ? "tokens" : " and tokens";
    }
    if (missing.empty()) {
        return true;
    }
    if (!options.insecure) {
        error = "refusing to serve " + host + ", which is not loopback, without " + missing +
                " (--tls-cert and --tls-key, --token-file); --insecure serves it anyway";
        return false;
    }
    warning = "serving " + host + " without " + missing +
              " (--insecure): anyone who reaches it can use the devices";
    return true;
}

bool checkServerOptions(const ServerOptions& options, const D2xxState& d2xx, std::ostream& report) {
    bool ok = true;
    std::vector<std::string> problems;
    std::vector<std::string> warnings;
    report << "usb3k-server would serve:\n";

    ListenAddress address;
    std::string error;
    if (!parseListenAddress(options.listen, address, error)) {
        problems.push_back("listen: " + error);
    }
    row(report, "listen",
        options.listen + (isLoopback(address.host) ? " (loopback)" : "") +
            "; a socket from systemd replaces it");

    if (options.tlsCert.empty() && options.tlsKey.empty()) {
        row(report, "tls", "off: plain HTTP");
    } else if (!options.tlsCert.empty() && !options.tlsKey.empty()) {
        std::string description;
        struct stat key {};
        if (checkTls(options, description, error)) {
            row(report, "tls", options.tlsCert + " (" + description + ")");
            // The key's secrecy is all that TLS rests on.
            if (stat(options.tlsKey.c_str(), &key) == 0 && (key.st_mode & (S_IRGRP | S_IROTH))) {
                warnings.push_back("tls-key: group or others may read " + options.tlsKey +
                                   "; chmod 600 it");
            }
        } else {
            problems.push_back("tls: " + error);
        }
    }

    if (options.tokenFile.empty()) {
        row(report, "tokens", "none: requests need no token");
    } else if (auto tokens = TokenList::load(options.tokenFile, error)) {
        row(report, "tokens", "from " + options.tokenFile);
    } else {
        problems.push_back("token-file: " + error);
    }

    std::string warning;
    if (address.port != 0 && !servingAllowed(options, address.host, error, warning)) {
        problems.push_back(error);
    }
    if (!warning.empty()) {
        warnings.push_back(warning);
    }

    for (const ServerOption& option : serverOptionTable()) {
        std::string name = option.name;
        if (name != "listen" && name != "token-file" && name != "tls-cert" && name != "tls-key") {
            row(report, name, option.show(options));
        }
    }
    // Out of descriptors, the server stops accepting until connections end.
    rlimit files{};
    std::size_t needed = options.maxConnections + options.maxUnauthenticated + kSpareDescriptors;
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY &&
        needed > files.rlim_cur) {
        warnings.push_back(
            "max-connections: " + std::to_string(options.maxConnections) + " connections, " +
            std::to_string(options.maxUnauthenticated) + " unauthenticated and " +
            std::to_string(kSpareDescriptors) + " to spare need " + std::to_string(needed) +
            " file descriptors, but this process may open " + std::to_string(files.rlim_cur) +
            " (RLIMIT_NOFILE); raise LimitNOFILE or lower max-connections");
    }
    // The server starts without D2XX and finds it once it is installed: no reason to refuse.
    row(report, "d2xx", d2xxSummary(d2xx));
    if (!d2xx.failure.empty()) {
        warnings.push_back("d2xx: the server would start but use no USB-3000" +
                           (d2xx.cause.empty() ? "" : "; likely cause: " + d2xx.cause) +
                           "; to fix: " + d2xx.fix);
    }
    for (const std::string& line : warnings) {
        report << "warning: " << line << "\n";
    }
    for (const std::string& line : problems) {
        report << "error: " << line << "\n";
        ok = false;
    }
    report << (ok ? "configuration ok\n" : "configuration refused\n");
    return ok;
}
