#include "server/listener.h"

#include <cerrno>
#include <chrono>

#include <boost/asio/strand.hpp>

#include "server/request_log.h"
#include "server/server_context.h"
#include "server/tls_detect.h"

namespace net = boost::asio;

namespace {

// How long accepting pauses when the process is out of file descriptors: connections that end
// meanwhile give theirs back, and the process does not spin on the failing accept.
constexpr std::chrono::milliseconds OUT_OF_DESCRIPTORS_PAUSE{100};

}  // namespace

Listener::Listener(ServerContext& context, net::ip::tcp::acceptor acceptor, net::ssl::context* tls)
    : context_(context),
      acceptor_(std::move(acceptor)),
      tls_(tls),
      pause_(acceptor_.get_executor()) {}

void Listener::start() {
    accept();
}

void Listener::close() {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    pause_.cancel();
}

net::ip::tcp::endpoint Listener::endpoint() const {
    boost::system::error_code ignored;
    return acceptor_.local_endpoint(ignored);
}

void Listener::accept() {
    // Each connection gets a strand of its own: its handlers never run at once.
    acceptor_.async_accept(
        net::make_strand(acceptor_.get_executor()),
        [self = shared_from_this()](boost::system::error_code ec, net::ip::tcp::socket socket) {
            if (ec == net::error::operation_aborted || !self->acceptor_.is_open())
                return;
            if (self->pauseWhenOutOfDescriptors(ec))
                return;
            if (!ec) {
                self->paused_ = false;
                boost::system::error_code ignored;
                net::ip::tcp::endpoint peer = socket.remote_endpoint(ignored);
                std::string address = peer.address().to_string();
                std::string client = address + ":" + std::to_string(peer.port());
                auto slot = self->context_.limits.openConnection(address);
                socket.set_option(net::ip::tcp::no_delay(true), ignored);
                serveConnection(self->context_, std::move(socket), self->tls_, std::move(slot),
                                std::move(client));
            }
            self->accept();
        });
}

bool Listener::pauseWhenOutOfDescriptors(const boost::system::error_code& ec) {
    if (ec.category() != boost::system::system_category() ||
        (ec.value() != EMFILE && ec.value() != ENFILE)) {
        return false;
    }
    if (!paused_) {
        logServer(std::string("out of file descriptors (") +
                  (ec.value() == EMFILE ? "EMFILE" : "ENFILE") +
                  "): accepting paused; raise LimitNOFILE or lower max-connections");
    }
    paused_ = true;
    pause_.expires_after(OUT_OF_DESCRIPTORS_PAUSE);
    pause_.async_wait([self = shared_from_this()](boost::system::error_code waited) {
        if (!waited && self->acceptor_.is_open())
            self->accept();
    });
    return true;
}
