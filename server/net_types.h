// The two kinds of connection usb3k-server serves: plain TCP, and TLS over TCP. Sessions are
// templates over these, instantiated for both in their own files.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

namespace beast = boost::beast;
namespace net = boost::asio;

using PlainStream = beast::tcp_stream;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;
