#include "server/server.h"

#include <sys/socket.h>

#include <boost/asio/post.hpp>

#include "server/listen_address.h"
#include "server/listener.h"
#include "server/request_log.h"
#include "server/server_config.h"
#include "server/tls_policy.h"

namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace {

// After the drain time-out, how long the closes that end work in progress may take.
constexpr std::chrono::seconds CLOSE_GRACE{2};

}  // namespace

Server::Server(const ServerOptions& options, DevicePool& pool, ServerMetrics& metrics,
               std::shared_ptr<const TokenList> tokens)
    : context_(options, pool, metrics, std::move(tokens)) {}

Server::~Server() {
    io_.stop();
    for (std::thread& thread : threads_) {
        if (thread.joinable())
            thread.join();
    }
    // The decode threads end before the connections they post to are destroyed.
    context_.poolAnswers.reset();
    context_.workers.reset();
}

bool Server::open(const std::vector<int>& inheritedSockets, std::string& error) {
    const ServerOptions& options = context_.options;
    if (!options.tlsCert.empty()) {
        tls_ = std::make_unique<net::ssl::context>(net::ssl::context::tls_server);
        if (!applyTlsPolicy(*tls_, error))
            return false;
        boost::system::error_code ec;
        tls_->use_certificate_chain_file(options.tlsCert, ec);
        if (ec) {
            error = "cannot use the certificate " + options.tlsCert + ": " + ec.message();
            return false;
        }
        tls_->use_private_key_file(options.tlsKey, net::ssl::context::pem, ec);
        if (ec) {
            error = "cannot use the key " + options.tlsKey + ": " + ec.message();
            return false;
        }
    }
    std::vector<tcp::acceptor> acceptors;
    boost::system::error_code ec;
    if (!inheritedSockets.empty()) {
        for (int fd : inheritedSockets) {
            sockaddr_storage address{};
            socklen_t length = sizeof address;
            if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
                error = "systemd passed a socket that is not one (descriptor " +
                        std::to_string(fd) + ")";
                return false;
            }
            tcp::acceptor acceptor(io_);
            acceptor.assign(address.ss_family == AF_INET6 ? tcp::v6() : tcp::v4(), fd, ec);
            if (ec) {
                error = "cannot use the socket systemd passed: " + ec.message();
                return false;
            }
            acceptors.push_back(std::move(acceptor));
        }
    } else {
        ListenAddress listen;
        if (!parseListenAddress(options.listen, listen, error))
            return false;
        tcp::endpoint endpoint(net::ip::make_address(listen.host, ec), listen.port);
        if (ec) {
            error = "cannot listen on " + options.listen + ": " + ec.message();
            return false;
        }
        tcp::acceptor acceptor(io_);
        acceptor.open(endpoint.protocol(), ec);
        if (!ec)
            acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
        if (!ec)
            acceptor.bind(endpoint, ec);
        if (!ec)
            acceptor.listen(net::socket_base::max_listen_connections, ec);
        if (ec) {
            error = "cannot listen on " + options.listen + ": " + ec.message();
            return false;
        }
        acceptors.push_back(std::move(acceptor));
    }
    for (tcp::acceptor& acceptor : acceptors) {
        std::string host = acceptor.local_endpoint(ec).address().to_string();
        std::string warning;
        if (!servingAllowed(options, host, error, warning))
            return false;
        if (!warning.empty())
            logServer("warning: " + warning);
        listeners_.push_back(std::make_shared<Listener>(context_, std::move(acceptor), tls_.get()));
    }
    return true;
}

uint16_t Server::port() const {
    return listeners_.empty() ? 0 : listeners_[0]->endpoint().port();
}

void Server::start(std::size_t threads) {
    for (const auto& listener : listeners_) {
        logServer("listening on " + listener->endpoint().address().to_string() + " port " +
                  std::to_string(listener->endpoint().port()) +
                  (tls_ ? " (TLS)" : " (plain HTTP)"));
        listener->start();
    }
    for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { io_.run(); });
}

void Server::drain() {
    net::post(io_, [this] {
        if (draining_)
            return;
        draining_ = true;
        logServer("draining: " + std::to_string(context_.active()) + " connections open");
        // Still listening: /readyz answers 503 and new work is refused with 503 until the end.
        context_.beginDrain([this] { net::post(io_, [this] { stop(); }); });
        drainTimer_.expires_after(context_.options.drainTimeout);
        drainTimer_.async_wait([this](boost::system::error_code ec) {
            if (ec)
                return;
            logServer("drain time-out: ending " + std::to_string(context_.active()) +
                      " connections");
            context_.expireDrain();
            drainTimer_.expires_after(CLOSE_GRACE);
            drainTimer_.async_wait([this](boost::system::error_code ec) {
                if (!ec)
                    stop();
            });
        });
    });
}

void Server::stop() {
    drainTimer_.cancel();
    for (const auto& listener : listeners_) listener->close();
    io_.stop();
}

void Server::wait() {
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
}
