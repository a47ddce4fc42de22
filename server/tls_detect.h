// A new connection's first bytes: on a TLS port, a TLS handshake is served over TLS, and plain
// HTTP gets a clear 400 in plain text before the connection closes.
#pragma once

#include <memory>
#include <string>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include "server/connection_limits.h"

class ServerContext;

// `tls` null: the server speaks plain HTTP.
void serveConnection(ServerContext& context, boost::asio::ip::tcp::socket socket,
                     boost::asio::ssl::context* tls, std::unique_ptr<ConnectionLimits::Slot> slot,
                     std::string client);
