// The probe's only translation unit with Boost.Beast, Boost.Asio and OpenSSL. Synchronous calls
// only, which compile far faster than asynchronous ones, and TLS on OpenSSL's own calls rather
// than Asio's templates over them; a watchdog thread bounds each blocking call by shutting the
// socket down, since a blocking socket call has no time-out of its own.
#include "tools/server_client.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <sys/socket.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace net = boost::asio;
namespace http = boost::beast::http;
using tcp = net::ip::tcp;
using boost::system::error_code;

namespace {

// Shuts a socket down when the call that waits on it takes longer than its limit, which makes
// that call return with an error.
class Watchdog {
  public:
    Watchdog() : thread_([this] { watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    // Socket `fd` is shut down unless the next arm() or disarm() comes within `limit`.
    void arm(int fd, std::chrono::seconds limit) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            fd_ = fd;
            deadline_ = std::chrono::steady_clock::now() + limit;
        }
        changed_.notify_all();
    }
    void disarm() {
        std::lock_guard<std::mutex> lock(mutex_);
        fd_ = -1;
    }
    bool expired() {
        std::lock_guard<std::mutex> lock(mutex_);
        return expired_;
    }

  private:
    void watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            if (fd_ < 0) {
                changed_.wait(lock);
            } else if (std::chrono::steady_clock::now() < deadline_) {
                changed_.wait_until(lock, deadline_);
            } else {
                expired_ = true;
                ::shutdown(fd_, SHUT_RDWR);
                fd_ = -1;
            }
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    int fd_ = -1;
    std::chrono::steady_clock::time_point deadline_;
    bool expired_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

ServerAnswer failure(ServerAnswer::Outcome outcome, const std::string& error) {
    ServerAnswer answer;
    answer.outcome = outcome;
    answer.error = error;
    return answer;
}

std::string seconds(int count) {
    return std::to_string(count) + " s";
}

// The Host field: the host and port, an IPv6 address in brackets.
std::string hostField(const ServerUri& uri) {
    const bool ipv6 = uri.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + uri.host + "]" : uri.host) + ":" + uri.port;
}

// Opens a connection to the first address of the host that accepts one; false with `failed` saying
// why none did.
bool connect(const ServerUri& uri, tcp::socket& socket, Watchdog& watchdog, ServerAnswer& failed) {
    tcp::resolver resolver(socket.get_executor());
    error_code ec;
    const tcp::resolver::results_type addresses = resolver.resolve(uri.host, uri.port, ec);
    if (ec) {
        failed = failure(ServerAnswer::Outcome::Unreachable,
                         "cannot resolve " + uri.host + ": " + ec.message());
        return false;
    }
    for (const auto& entry : addresses) {
        error_code ignored;
        socket.close(ignored);
        socket.open(entry.endpoint().protocol(), ec);
        if (ec) {
            continue;
        }
        watchdog.arm(socket.native_handle(), std::chrono::seconds(CONNECT_TIMEOUT_SECONDS));
        socket.connect(entry.endpoint(), ec);
        watchdog.disarm();
        if (!ec) {
            return true;
        }
        if (watchdog.expired()) {
            failed = failure(ServerAnswer::Outcome::Unreachable,
                             "no connection within " + seconds(CONNECT_TIMEOUT_SECONDS));
            return false;
        }
    }
    failed = failure(ServerAnswer::Outcome::Unreachable, ec.message());
    return false;
}

// The connection, plain or TLS, as one stream type, so that Beast's reading and writing are
// compiled once: each call passes one buffer at a time to the connection underneath (a partial
// read or write, which the callers allow).
class Connection {
  public:
    virtual ~Connection() = default;

    template <class Buffers>
    std::size_t read_some(const Buffers& buffers, error_code& ec) {
        for (auto i = net::buffer_sequence_begin(buffers); i != net::buffer_sequence_end(buffers);
             ++i) {
            if (net::mutable_buffer(*i).size() != 0) {
                return readSome(*i, ec);
            }
        }
        ec = {};
        return 0;
    }
    template <class Buffers>
    std::size_t read_some(const Buffers& buffers) {
        error_code ec;
        const std::size_t count = read_some(buffers, ec);
        if (ec) {
            throw boost::system::system_error(ec);
        }
        return count;
    }
    template <class Buffers>
    std::size_t write_some(const Buffers& buffers, error_code& ec) {
        for (auto i = net::buffer_sequence_begin(buffers); i != net::buffer_sequence_end(buffers);
             ++i) {
            if (net::const_buffer(*i).size() != 0) {
                return writeSome(*i, ec);
            }
        }
        ec = {};
        return 0;
    }
    template <class Buffers>
    std::size_t write_some(const Buffers& buffers) {
        error_code ec;
        const std::size_t count = write_some(buffers, ec);
        if (ec) {
            throw boost::system::system_error(ec);
        }
        return count;
    }

    // Why the call that failed with `ec` failed, as one line.
    virtual std::string describe(const error_code& ec) const { return ec.message(); }

  private:
    virtual std::size_t readSome(net::mutable_buffer buffer, error_code& ec) = 0;
    virtual std::size_t writeSome(net::const_buffer buffer, error_code& ec) = 0;
};

class PlainConnection final : public Connection {
  public:
    explicit PlainConnection(tcp::socket& socket) : socket_(socket) {}

  private:
    std::size_t readSome(net::mutable_buffer buffer, error_code& ec) override {
        return socket_.read_some(buffer, ec);
    }
    std::size_t writeSome(net::const_buffer buffer, error_code& ec) override {
        return socket_.write_some(buffer, ec);
    }

    tcp::socket& socket_;
};

// OpenSSL's objects, each freed with its owner.
struct SslContextFree {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};
struct BioMethodFree {
    void operator()(BIO_METHOD* method) const { BIO_meth_free(method); }
};

// The oldest error OpenSSL queued on this thread, or else the system's, as one line; the queue is
// emptied.
std::string openSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return errno != 0 ? std::strerror(errno) : "the connection was closed";
    }
    const char* reason = ERR_reason_error_string(code);
    if (reason != nullptr) {
        return reason;
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

// TLS's bytes go through the socket with MSG_NOSIGNAL, so that a connection the server closed
// fails a write instead of raising SIGPIPE. The BIO's data is the socket.
int socketOf(BIO* bio) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}
int sendBytes(BIO* bio, const char* data, std::size_t size, std::size_t* sent) {
    ssize_t count;
    do {
        count = ::send(socketOf(bio), data, size, MSG_NOSIGNAL);
    } while (count < 0 && errno == EINTR);
    *sent = count > 0 ? static_cast<std::size_t>(count) : 0;
    return count > 0 ? 1 : 0;
}
int receiveBytes(BIO* bio, char* data, std::size_t size, std::size_t* received) {
    ssize_t count;
    do {
        count = ::recv(socketOf(bio), data, size, 0);
    } while (count < 0 && errno == EINTR);
    *received = count > 0 ? static_cast<std::size_t>(count) : 0;
    return count > 0 ? 1 : 0;
}
long controlSocket(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

std::unique_ptr<BIO_METHOD, BioMethodFree> socketMethod() {
    std::unique_ptr<BIO_METHOD, BioMethodFree> method(
        BIO_meth_new(BIO_TYPE_SOURCE_SINK | BIO_get_new_index(), "usb3k-probe socket"));
    if (method != nullptr) {
        BIO_meth_set_write_ex(method.get(), sendBytes);
        BIO_meth_set_read_ex(method.get(), receiveBytes);
        BIO_meth_set_ctrl(method.get(), controlSocket);
    }
    return method;
}

class TlsConnection final : public Connection {
  public:
    explicit TlsConnection(SSL* ssl) : ssl_(ssl) {}

    std::string describe(const error_code& ec) const override {
        return error_.empty() ? ec.message() : error_;
    }

  private:
    std::size_t readSome(net::mutable_buffer buffer, error_code& ec) override {
        std::size_t count = 0;
        return done(SSL_read_ex(ssl_, buffer.data(), buffer.size(), &count), ec) ? count : 0;
    }
    std::size_t writeSome(net::const_buffer buffer, error_code& ec) override {
        std::size_t count = 0;
        return done(SSL_write_ex(ssl_, buffer.data(), buffer.size(), &count), ec) ? count : 0;
    }
    // `result` of a call: true when it succeeded; else `ec` and the error say why.
    bool done(int result, error_code& ec) {
        if (result == 1) {
            ec = {};
            return true;
        }
        if (SSL_get_error(ssl_, result) == SSL_ERROR_ZERO_RETURN) {
            ec = net::error::eof;
        } else {
            ec = net::error::connection_aborted;
            error_ = openSslError();
        }
        return false;
    }

    SSL* ssl_;
    std::string error_;
};

// The request on an open connection, and its answer read in pieces, each within the read
// time-out.
ServerAnswer exchange(Connection& stream, int fd, Watchdog& watchdog, const ServerUri& uri,
                      const std::string& token, const ServerRequest& request) {
    http::request<http::string_body> message(request.post ? http::verb::post : http::verb::get,
                                             uri.basePath + request.target, 11);
    message.set(http::field::host, hostField(uri));
    message.set(http::field::user_agent, "usb3k-probe");
    message.set(http::field::authorization, "Bearer " + token);
    if (request.post) {
        message.set(http::field::content_type, "application/octet-stream");
        message.body() = request.body;
    }
    message.keep_alive(false);
    message.prepare_payload();

    error_code ec;
    watchdog.arm(fd, std::chrono::seconds(READ_TIMEOUT_SECONDS));
    http::write(stream, message, ec);
    http::response_parser<http::string_body> parser;
    parser.body_limit(request.maxAnswerBytes);
    boost::beast::flat_buffer buffer;
    while (!ec && !parser.is_done()) {
        watchdog.arm(fd, std::chrono::seconds(READ_TIMEOUT_SECONDS));
        http::read_some(stream, buffer, parser, ec);
    }
    watchdog.disarm();
    if (ec) {
        return failure(ServerAnswer::Outcome::Failed,
                       watchdog.expired() ? "no answer within " + seconds(READ_TIMEOUT_SECONDS)
                                          : stream.describe(ec));
    }
    const http::response<http::string_body>& response = parser.get();
    ServerAnswer answer;
    answer.outcome = ServerAnswer::Outcome::Answered;
    answer.status = response.result_int();
    answer.body = response.body();
    // Beast adds a chunked answer's trailer fields to its header fields.
    answer.framesConcealed = std::string(response["Usb3k-Frames-Concealed"]);
    answer.decodeError = std::string(response["Usb3k-Error"]);
    return answer;
}

// Opens a TLS connection on `socket` and exchanges the request on it.
ServerAnswer askOverTls(const ServerUri& uri, const std::string& token, const std::string& caFile,
                        const ServerRequest& request, tcp::socket& socket, Watchdog& watchdog) {
    ERR_clear_error();
    const std::unique_ptr<SSL_CTX, SslContextFree> context(SSL_CTX_new(TLS_client_method()));
    if (context == nullptr) {
        return failure(ServerAnswer::Outcome::Failed, openSslError());
    }
    // A system without a trust store still trusts the --ca-file.
    SSL_CTX_set_default_verify_paths(context.get());
    ERR_clear_error();
    if (!caFile.empty() &&
        SSL_CTX_load_verify_locations(context.get(), caFile.c_str(), nullptr) != 1) {
        return failure(ServerAnswer::Outcome::BadCaFile,
                       "cannot load " + caFile + ": " + openSslError());
    }
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    ServerAnswer failed;
    if (!connect(uri, socket, watchdog, failed)) {
        return failed;
    }
    const int fd = socket.native_handle();
    const std::unique_ptr<BIO_METHOD, BioMethodFree> method = socketMethod();
    const std::unique_ptr<SSL, SslFree> ssl(method ? SSL_new(context.get()) : nullptr);
    BIO* bio = ssl ? BIO_new(method.get()) : nullptr;
    if (bio == nullptr) {
        return failure(ServerAnswer::Outcome::Failed, openSslError());
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl.get(), bio, bio);
    // The certificate must name the host; a name is also sent for a server that serves several
    // (SNI), an address never.
    error_code notAnAddress;
    net::ip::make_address(uri.host, notAnAddress);
    if (notAnAddress) {
        SSL_set_tlsext_host_name(ssl.get(), uri.host.c_str());
        SSL_set1_host(ssl.get(), uri.host.c_str());
    } else {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), uri.host.c_str());
    }
    watchdog.arm(fd, std::chrono::seconds(READ_TIMEOUT_SECONDS));
    errno = 0;
    const int shaken = SSL_connect(ssl.get());
    watchdog.disarm();
    if (shaken != 1) {
        if (watchdog.expired()) {
            return failure(ServerAnswer::Outcome::Failed,
                           "no TLS handshake within " + seconds(READ_TIMEOUT_SECONDS));
        }
        const long verdict = SSL_get_verify_result(ssl.get());
        return failure(ServerAnswer::Outcome::NotTrusted,
                       verdict != X509_V_OK ? std::string("certificate verify failed: ") +
                                                  X509_verify_cert_error_string(verdict)
                                            : "the TLS handshake failed: " + openSslError());
    }
    TlsConnection connection(ssl.get());
    return exchange(connection, fd, watchdog, uri, token, request);
}

}  // namespace

ServerAnswer askServer(const ServerUri& uri, const std::string& token, const std::string& caFile,
                       const ServerRequest& request) {
    net::io_context io;
    tcp::socket socket(io);
    // Every path disarms it before the socket closes.
    Watchdog watchdog;
    if (uri.tls) {
        return askOverTls(uri, token, caFile, request, socket, watchdog);
    }
    ServerAnswer failed;
    if (!connect(uri, socket, watchdog, failed)) {
        return failed;
    }
    PlainConnection connection(socket);
    return exchange(connection, socket.native_handle(), watchdog, uri, token, request);
}
