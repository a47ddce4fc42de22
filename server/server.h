// usb3k-server's network side as one object: its listening sockets (its own, or those systemd
// passes), TLS, the threads that serve the network, and the drain. main() and the tests start it
// the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>

#include "server/server_context.h"

class Listener;

class Server {
  public:
    Server(const ServerOptions& options, DevicePool& pool, ServerMetrics& metrics,
           std::shared_ptr<const TokenList> tokens);
    // Stops serving at once; a drain first ends work in progress with a reason.
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Loads the certificate and key, then listens on the sockets systemd passed
    // (`inheritedSockets`) or else on options.listen, each only where the serving rule allows it.
    // False with `error` saying why not.
    bool open(const std::vector<int>& inheritedSockets, std::string& error);
    // The port of the first listening socket (the one the system chose for port 0).
    uint16_t port() const;
    void start(std::size_t threads);

    // From any thread: /readyz turns 503, new work is refused with 503, work in progress goes on
    // up to the drain time-out and then ends with a reason; then the threads end.
    void drain();
    // Until the threads end: after a drain.
    void wait();

    ServerContext& context() { return context_; }

  private:
    void stop();

    ServerContext context_;
    boost::asio::io_context io_;
    std::unique_ptr<boost::asio::ssl::context> tls_;
    std::vector<std::shared_ptr<Listener>> listeners_;
    boost::asio::steady_timer drainTimer_{io_};
    bool draining_ = false;
    std::vector<std::thread> threads_;
};
