// Beast clients of usb3k-server on loopback for the tests and the benchmarks: a request and its
// answer, a connection for several, and a WebSocket stream. They are compiled once
// (test_clients.cpp): Beast's WebSocket and HTTP templates are costly in every file that uses them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Response = http::response<http::string_body>;

inline const std::string TOKEN = "secret-of-alice";

tcp::endpoint loopback(uint16_t port);

// The head of a POST to `target` with the test's token, for a body of `bodyBytes` that a test
// sends in parts of its own.
std::string postHead(const std::string& target, std::size_t bodyBytes);

// Sends `request` whole and reads until the server closes the connection, or 20 s pass: the
// bytes answered, and whether the connection ended with the server's close (EOF).
std::string rawUntilClose(uint16_t port, const std::string& request, bool& closed);

// One request and its answer, on a plain or TLS connection; no token: no Authorization header.
Response exchange(beast::tcp_stream& stream, beast::flat_buffer& buffer, http::verb verb,
                  const std::string& target, const std::string& body, const std::string& token);
Response exchange(beast::ssl_stream<beast::tcp_stream>& stream, beast::flat_buffer& buffer,
                  http::verb verb, const std::string& target, const std::string& body,
                  const std::string& token);

class Connection {
  public:
    explicit Connection(uint16_t port);
    ~Connection();

    Response send(http::verb verb, const std::string& target, const std::string& body = "",
                  const std::string& token = TOKEN);

    beast::tcp_stream& stream() { return stream_; }

  private:
    net::io_context io_;
    beast::tcp_stream stream_{io_};
    beast::flat_buffer buffer_;
};

// The answer to a WebSocket handshake for `target` (a refusal's status and body among them).
Response streamHandshake(uint16_t port, const std::string& token, const std::string& target);

// A WebSocket at `target` (GET /v1/stream by default), binary messages by default; no token: no
// Authorization header. Throws beast::system_error when the handshake is refused.
class Stream {
  public:
    // `socketBufferBytes`: the socket's send and receive buffers, when not 0.
    explicit Stream(uint16_t port, const std::string& token = TOKEN,
                    const std::string& target = "/v1/stream", std::size_t socketBufferBytes = 0);
    ~Stream();

    void send(const std::string& message);
    void send(const void* data, std::size_t bytes);
    // false when the connection failed.
    bool trySend(const std::string& message);
    void sendText(const std::string& message);
    // The next message, and whether it is text.
    std::string read(bool& text);
    // The error that ends the next read.
    beast::error_code readError();
    // Reads until the server closes; its close frame. `handshake`: the server waits for the
    // client's answer to its close, as it does for every close but one that Beast makes itself,
    // which may end the connection before the client's teardown is done.
    websocket::close_reason readClose(bool handshake = true);
    void close();
    // The TCP connection under the WebSocket, to shut down or close abruptly.
    tcp::socket& socket();

  private:
    struct Socket;
    std::unique_ptr<Socket> socket_;
};
