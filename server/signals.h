// The signals usb3k-server acts on: SIGTERM and SIGINT drain it, SIGHUP reloads the token file
// (kept as it was when the new one is refused).
#pragma once

#include <memory>
#include <thread>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

class Server;

class Signals {
  public:
    explicit Signals(Server& server);
    // Stops listening for the signals.
    ~Signals();

  private:
    void wait();

    Server& server_;
    boost::asio::io_context io_;
    boost::asio::signal_set signals_{io_, SIGTERM, SIGINT, SIGHUP};
    std::thread thread_;
};
