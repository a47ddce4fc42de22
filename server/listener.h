// Accepts usb3k-server's connections on one listening socket, each counted by the connection
// limits, and hands each to the TLS detection or the plain HTTP session.
#pragma once

#include <memory>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

class ServerContext;

class Listener : public std::enable_shared_from_this<Listener> {
  public:
    Listener(ServerContext& context, boost::asio::ip::tcp::acceptor acceptor,
             boost::asio::ssl::context* tls);

    void start();
    // From the acceptor's executor: no more connections are accepted.
    void close();
    boost::asio::ip::tcp::endpoint endpoint() const;

  private:
    void accept();

    ServerContext& context_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::ssl::context* tls_;
};
