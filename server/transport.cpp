#include "server/transport.h"

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <boost/beast/websocket/teardown.hpp>

// An erased handler's own associated executor cannot be posted to (Asio 1.81); the connection's
// executor, which a session's handlers run on anyway, is bound to it instead.
template <class Handler>
auto Transport::bound(Handler&& handler) {
    return net::bind_executor(get_executor(), std::forward<Handler>(handler));
}

Transport::Transport(PlainStream&& plain)
    : plain_(std::make_unique<PlainStream>(std::move(plain))) {}

Transport::Transport(std::unique_ptr<TlsStream> tls) : tls_(std::move(tls)) {}

Transport::Transport(Transport&& other) noexcept = default;
Transport& Transport::operator=(Transport&& other) noexcept = default;
Transport::~Transport() = default;

Transport::executor_type Transport::get_executor() noexcept {
    return tcp().get_executor();
}

beast::tcp_stream& Transport::tcp() noexcept {
    return tls_ ? beast::get_lowest_layer(*tls_) : *plain_;
}

void Transport::readSome(std::vector<net::mutable_buffer> into, IoHandler handler) {
    if (tls_)
        return tls_->async_read_some(into, bound(std::move(handler)));
    plain_->async_read_some(into, bound(std::move(handler)));
}

void Transport::writeSome(std::vector<net::const_buffer> from, IoHandler handler) {
    if (tls_)
        return tls_->async_write_some(from, bound(std::move(handler)));
    plain_->async_write_some(from, bound(std::move(handler)));
}

void Transport::shutdown(std::chrono::steady_clock::duration tlsGrace, DoneHandler done) {
    if (tls_) {
        tcp().expires_after(tlsGrace);
        return tls_->async_shutdown(bound(std::move(done)));
    }
    beast::error_code ec;
    plain_->socket().shutdown(net::ip::tcp::socket::shutdown_send, ec);
    net::post(get_executor(), [done = std::move(done), ec]() mutable { std::move(done)(ec); });
}

// Beast's own teardowns of each kind of connection, found as Beast finds them.
void Transport::teardown(beast::role_type role, beast::error_code& ec) {
    using beast::websocket::teardown;
    if (tls_)
        return teardown(role, *tls_, ec);
    teardown(role, *plain_, ec);
}

void Transport::asyncTeardown(beast::role_type role, DoneHandler done) {
    using beast::websocket::async_teardown;
    if (tls_)
        return async_teardown(role, *tls_, bound(std::move(done)));
    async_teardown(role, *plain_, bound(std::move(done)));
}

void teardown(beast::role_type role, Transport& transport, beast::error_code& ec) {
    transport.teardown(role, ec);
}

void beast_close_socket(Transport& transport) {
    beast::close_socket(transport.tcp());
}
