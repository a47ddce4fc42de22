#include "tests/server/test_clients.h"

#include <gtest/gtest.h>

#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/stream.hpp>

tcp::endpoint loopback(uint16_t port) {
    return tcp::endpoint(net::ip::make_address("127.0.0.1"), port);
}

namespace {

template <class SyncStream>
Response exchangeOn(SyncStream& stream, beast::flat_buffer& buffer, http::verb verb,
                    const std::string& target, const std::string& body, const std::string& token) {
    http::request<http::string_body> request(verb, target, 11);
    request.set(http::field::host, "localhost");
    if (!token.empty())
        request.set(http::field::authorization, "Bearer " + token);
    request.body() = body;
    request.prepare_payload();
    http::write(stream, request);
    http::response_parser<http::string_body> parser;
    parser.body_limit(64 * 1024 * 1024);
    http::read(stream, buffer, parser);
    return parser.release();
}

void authorize(websocket::stream<beast::tcp_stream>& ws, const std::string& token) {
    if (token.empty())
        return;
    ws.set_option(websocket::stream_base::decorator([token](websocket::request_type& request) {
        request.set(http::field::authorization, "Bearer " + token);
    }));
}

}  // namespace

Response exchange(beast::tcp_stream& stream, beast::flat_buffer& buffer, http::verb verb,
                  const std::string& target, const std::string& body, const std::string& token) {
    return exchangeOn(stream, buffer, verb, target, body, token);
}

Response exchange(beast::ssl_stream<beast::tcp_stream>& stream, beast::flat_buffer& buffer,
                  http::verb verb, const std::string& target, const std::string& body,
                  const std::string& token) {
    return exchangeOn(stream, buffer, verb, target, body, token);
}

std::string rawUntilClose(uint16_t port, const std::string& request, bool& closed) {
    net::io_context io;
    beast::tcp_stream stream(io);
    stream.connect(loopback(port));
    net::write(stream, net::buffer(request));
    std::string bytes;
    stream.expires_after(std::chrono::seconds(20));
    char chunk[4096];
    beast::error_code ec;
    for (int reads = 0; reads < 100000 && !ec; ++reads) {
        std::size_t got = stream.read_some(net::buffer(chunk), ec);
        bytes.append(chunk, got);
    }
    closed = ec == net::error::eof;
    return bytes;
}

std::string postHead(const std::string& target, std::size_t bodyBytes) {
    return "POST " + target + " HTTP/1.1\r\nHost: localhost\r\nAuthorization: Bearer " + TOKEN +
           "\r\nContent-Length: " + std::to_string(bodyBytes) + "\r\n\r\n";
}

Connection::Connection(uint16_t port) {
    stream_.connect(loopback(port));
}

Connection::~Connection() = default;

Response Connection::send(http::verb verb, const std::string& target, const std::string& body,
                          const std::string& token) {
    return exchange(stream_, buffer_, verb, target, body, token);
}

Response streamHandshake(uint16_t port, const std::string& token, const std::string& target) {
    net::io_context io;
    websocket::stream<beast::tcp_stream> ws(io);
    ws.next_layer().connect(loopback(port));
    authorize(ws, token);
    websocket::response_type response;
    beast::error_code ec;
    ws.handshake(response, "localhost", target, ec);
    return response;
}

struct Stream::Socket {
    net::io_context io;
    websocket::stream<beast::tcp_stream> ws{io};
    websocket::response_type response;
};

Stream::Stream(uint16_t port, const std::string& token, const std::string& target,
               std::size_t socketBufferBytes)
    : socket_(std::make_unique<Socket>()) {
    tcp::socket& socket = socket_->ws.next_layer().socket();
    socket.open(tcp::v4());
    if (socketBufferBytes != 0) {
        int bytes = static_cast<int>(socketBufferBytes);
        socket.set_option(net::socket_base::receive_buffer_size(bytes));
        socket.set_option(net::socket_base::send_buffer_size(bytes));
    }
    socket.connect(loopback(port));
    authorize(socket_->ws, token);
    socket_->ws.handshake(socket_->response, "localhost", target);
    socket_->ws.binary(true);
}

Stream::~Stream() = default;

void Stream::send(const std::string& message) {
    send(message.data(), message.size());
}

void Stream::send(const void* data, std::size_t bytes) {
    socket_->ws.write(net::buffer(data, bytes));
}

bool Stream::trySend(const std::string& message) {
    beast::error_code ec;
    socket_->ws.write(net::buffer(message), ec);
    return !ec;
}

void Stream::sendText(const std::string& message) {
    socket_->ws.text(true);
    socket_->ws.write(net::buffer(message));
    socket_->ws.binary(true);
}

std::string Stream::read(bool& text) {
    beast::flat_buffer buffer;
    socket_->ws.read(buffer);
    text = socket_->ws.got_text();
    return beast::buffers_to_string(buffer.data());
}

beast::error_code Stream::readError() {
    beast::error_code ec;
    beast::flat_buffer buffer;
    socket_->ws.read(buffer, ec);
    return ec;
}

websocket::close_reason Stream::readClose(bool handshake) {
    beast::flat_buffer buffer;
    beast::error_code ec;
    while (!ec) socket_->ws.read(buffer, ec);
    if (handshake) {
        EXPECT_EQ(ec, websocket::error::closed) << ec.message();
    }
    return socket_->ws.reason();
}

void Stream::close() {
    socket_->ws.close(websocket::close_code::normal);
}

tcp::socket& Stream::socket() {
    return socket_->ws.next_layer().socket();
}
