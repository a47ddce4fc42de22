#include "server/tls_detect.h"

#include <chrono>

#include <boost/asio/post.hpp>
#include <boost/beast/core/detect_ssl.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>

#include "server/http_session.h"
#include "server/request_log.h"
#include "server/server_context.h"

namespace http = beast::http;

namespace {

class TlsDetector : public std::enable_shared_from_this<TlsDetector> {
  public:
    TlsDetector(ServerContext& context, net::ip::tcp::socket socket, net::ssl::context& tls,
                std::unique_ptr<ConnectionLimits::Slot> slot, std::string client)
        : context_(context),
          stream_(std::move(socket)),
          tls_(tls),
          slot_(std::move(slot)),
          client_(std::move(client)) {}

    void run() {
        // Made room for by a newer connection: the handshake ends here.
        std::weak_ptr<TlsDetector> weak = shared_from_this();
        context_.limits.onEvict(*slot_, [weak, executor = stream_.get_executor()] {
            net::post(executor, [weak] {
                auto self = weak.lock();
                if (!self || self->handedOver_)
                    return;
                if (self->tlsStream_)
                    return beast::get_lowest_layer(*self->tlsStream_).cancel();
                self->stream_.cancel();
            });
        });
        // The handshake and the first request's header share the header time-out.
        stream_.expires_at(headerDeadline());
        beast::async_detect_ssl(stream_, buffer_,
                                [self = shared_from_this()](beast::error_code ec, bool isTls) {
                                    if (ec)
                                        return;
                                    if (isTls)
                                        return self->handshake();
                                    self->refusePlain();
                                });
    }

  private:
    std::chrono::steady_clock::time_point headerDeadline() const {
        return slot_->opened() + context_.options.headerTimeout;
    }

    void handshake() {
        tlsStream_ = std::make_unique<TlsStream>(std::move(stream_), tls_);
        beast::get_lowest_layer(*tlsStream_).expires_at(headerDeadline());
        tlsStream_->async_handshake(
            net::ssl::stream_base::server, buffer_.data(),
            [self = shared_from_this()](beast::error_code ec, std::size_t used) {
                if (ec)
                    return self->handshakeFailed(ec);
                self->buffer_.consume(used);
                self->handedOver_ = true;
                runHttpSession(self->context_, Transport(std::move(self->tlsStream_)),
                               std::move(self->buffer_), std::move(self->slot_), self->client_);
            });
    }

    void handshakeFailed(beast::error_code ec) {
        context_.metrics.tlsHandshakeFailed();
        uint64_t heldBack = 0;
        if (!context_.tlsFailureLog.allow(LogThrottle::Clock::now(), heldBack))
            return;
        if (heldBack > 0) {
            logServer(std::to_string(heldBack) + " more TLS handshake" +
                      (heldBack == 1 ? "" : "s") + " failed");
        }
        logServer(client_ + " TLS handshake failed: " + ec.message());
    }

    void refusePlain() {
        logServer(client_ + " plain HTTP on the TLS port refused");
        response_.result(http::status::bad_request);
        response_.version(11);
        response_.set(http::field::content_type, "text/plain; charset=utf-8");
        response_.body() = "this port speaks HTTPS (TLS) only: use https://\n";
        response_.keep_alive(false);
        response_.prepare_payload();
        stream_.expires_after(context_.options.writeTimeout);
        http::async_write(
            stream_, response_, [self = shared_from_this()](beast::error_code, std::size_t) {
                beast::error_code ignored;
                self->stream_.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
            });
    }

    ServerContext& context_;
    PlainStream stream_;
    net::ssl::context& tls_;
    std::unique_ptr<ConnectionLimits::Slot> slot_;
    std::string client_;
    beast::flat_buffer buffer_;
    std::unique_ptr<TlsStream> tlsStream_;
    http::response<http::string_body> response_;
    bool handedOver_ = false;
};

}  // namespace

void serveConnection(ServerContext& context, net::ip::tcp::socket socket, net::ssl::context* tls,
                     std::unique_ptr<ConnectionLimits::Slot> slot, std::string client) {
    if (tls == nullptr) {
        return runHttpSession(context, Transport(PlainStream(std::move(socket))),
                              beast::flat_buffer(), std::move(slot), std::move(client));
    }
    std::make_shared<TlsDetector>(context, std::move(socket), *tls, std::move(slot),
                                  std::move(client))
        ->run();
}
