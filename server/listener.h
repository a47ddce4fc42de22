// Accepts usb3k-server's connections on one listening socket, each counted by the connection
// limits, and hands each to the TLS detection or the plain HTTP session. Out of file descriptors,
// it pauses accepting for a moment rather than retrying at once.
#pragma once

#include <memory>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>

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
    // False when `ec` is not a lack of file descriptors; else accepting resumes after a pause.
    bool pauseWhenOutOfDescriptors(const boost::system::error_code& ec);

    ServerContext& context_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::ssl::context* tls_;
    boost::asio::steady_timer pause_;
    // Accepting is paused for a lack of file descriptors; said once for each run of pauses.
    bool paused_ = false;
};
