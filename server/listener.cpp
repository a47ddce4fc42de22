#include "server/listener.h"

#include <boost/asio/strand.hpp>

#include "server/server_context.h"
#include "server/tls_detect.h"

namespace net = boost::asio;

Listener::Listener(ServerContext& context, net::ip::tcp::acceptor acceptor, net::ssl::context* tls)
    : context_(context), acceptor_(std::move(acceptor)), tls_(tls) {}

void Listener::start() {
    accept();
}

void Listener::close() {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
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
            if (!ec) {
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
