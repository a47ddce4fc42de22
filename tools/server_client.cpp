// The probe's only translation unit with Boost.Beast, Boost.Asio and OpenSSL. Synchronous calls
// only, which compile far faster than asynchronous ones; a watchdog thread bounds each blocking
// call by shutting the socket down, since a blocking socket call of Asio has no time-out of its
// own.
#include "tools/server_client.h"

#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/socket.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/ssl/error.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace net = boost::asio;
namespace ssl = net::ssl;
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

  private:
    virtual std::size_t readSome(net::mutable_buffer buffer, error_code& ec) = 0;
    virtual std::size_t writeSome(net::const_buffer buffer, error_code& ec) = 0;
};

template <class Stream>
class ConnectionOn final : public Connection {
  public:
    explicit ConnectionOn(Stream& stream) : stream_(stream) {}

  private:
    std::size_t readSome(net::mutable_buffer buffer, error_code& ec) override {
        return stream_.read_some(buffer, ec);
    }
    std::size_t writeSome(net::const_buffer buffer, error_code& ec) override {
        return stream_.write_some(buffer, ec);
    }

    Stream& stream_;
};

// Why a handshake failed: OpenSSL's verdict on the certificate when it refused it.
std::string handshakeError(ssl::stream<tcp::socket>& stream, const error_code& ec) {
    const long verdict = SSL_get_verify_result(stream.native_handle());
    if (verdict != X509_V_OK) {
        return std::string("certificate verify failed: ") + X509_verify_cert_error_string(verdict);
    }
    return "the TLS handshake failed: " + ec.message();
}

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
        message.set(http::field::te, "trailers");
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
    const bool cutShort = ec == http::error::partial_message && parser.is_header_done();
    if (ec && !cutShort) {
        return failure(ServerAnswer::Outcome::Failed,
                       watchdog.expired() ? "no answer within " + seconds(READ_TIMEOUT_SECONDS)
                                          : ec.message());
    }
    const http::response<http::string_body>& response = parser.get();
    ServerAnswer answer;
    answer.outcome = ServerAnswer::Outcome::Answered;
    answer.status = response.result_int();
    answer.body = response.body();
    // Beast adds a chunked answer's trailer fields to its header fields.
    answer.framesConcealed = std::string(response["Usb3k-Frames-Concealed"]);
    answer.cutShort = cutShort;
    return answer;
}

ServerAnswer askOverTls(const ServerUri& uri, const std::string& token, const std::string& caFile,
                        const ServerRequest& request, net::io_context& io, Watchdog& watchdog) {
    ssl::context trust(ssl::context::tls_client);
    error_code ec;
    // A system without a trust store still trusts the --ca-file.
    error_code noStore;
    trust.set_default_verify_paths(noStore);
    if (!caFile.empty()) {
        trust.load_verify_file(caFile, ec);
    }
    if (ec) {
        return failure(ServerAnswer::Outcome::BadCaFile,
                       "cannot load " + caFile + ": " + ec.message());
    }
    trust.set_verify_mode(ssl::verify_peer);
    ssl::stream<tcp::socket> stream(io, trust);
    stream.set_verify_callback(ssl::host_name_verification(uri.host));
    // The server name for a server that serves several (SNI); an address is never sent as one.
    error_code notAnAddress;
    net::ip::make_address(uri.host, notAnAddress);
    if (notAnAddress) {
        SSL_set_tlsext_host_name(stream.native_handle(), uri.host.c_str());
    }
    ServerAnswer failed;
    if (!connect(uri, stream.next_layer(), watchdog, failed)) {
        return failed;
    }
    const int fd = stream.next_layer().native_handle();
    watchdog.arm(fd, std::chrono::seconds(READ_TIMEOUT_SECONDS));
    stream.handshake(ssl::stream_base::client, ec);
    watchdog.disarm();
    if (ec) {
        return watchdog.expired()
                   ? failure(ServerAnswer::Outcome::Failed,
                             "no TLS handshake within " + seconds(READ_TIMEOUT_SECONDS))
                   : failure(ServerAnswer::Outcome::NotTrusted, handshakeError(stream, ec));
    }
    ConnectionOn<ssl::stream<tcp::socket>> connection(stream);
    return exchange(connection, fd, watchdog, uri, token, request);
}

}  // namespace

ServerAnswer askServer(const ServerUri& uri, const std::string& token, const std::string& caFile,
                       const ServerRequest& request) {
    net::io_context io;
    // Every path disarms it before its socket closes.
    Watchdog watchdog;
    if (uri.tls) {
        return askOverTls(uri, token, caFile, request, io, watchdog);
    }
    tcp::socket socket(io);
    ServerAnswer failed;
    if (!connect(uri, socket, watchdog, failed)) {
        return failed;
    }
    ConnectionOn<tcp::socket> connection(socket);
    return exchange(connection, socket.native_handle(), watchdog, uri, token, request);
}
