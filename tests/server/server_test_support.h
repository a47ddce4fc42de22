// usb3k-server's tests on loopback: frames and the fake's speech for them, Beast clients for a
// request and a WebSocket stream, and a fixture that serves a fake device pool in process.
#pragma once

#include <gtest/gtest.h>

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>

#include "server/server.h"
#include "tests/server/fake_device_pool.h"

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Response = http::response<http::string_body>;

inline const std::string TOKEN = "secret-of-alice";

inline std::string frames(std::size_t count) {
    std::string vcw(count * 7, '\0');
    for (std::size_t i = 0; i < vcw.size(); ++i) vcw[i] = static_cast<char>(i * 13 + i / 7);
    return vcw;
}

// The fake's speech for `vcw`, silence at the concealed lease frames from `first` on.
inline std::string speechFor(const std::string& vcw, const std::set<uint64_t>& concealed,
                             uint64_t first = 0) {
    std::string pcm;
    for (std::size_t f = 0; f < vcw.size() / 7; ++f) {
        auto block = speechOf(reinterpret_cast<const uint8_t*>(vcw.data()) + f * 7);
        if (concealed.count(first + f) != 0)
            block.assign(320, 0);
        pcm.append(block.begin(), block.end());
    }
    return pcm;
}

// One request and its answer, on a plain or TLS connection.
template <class Stream>
inline Response exchange(Stream& stream, beast::flat_buffer& buffer, http::verb verb,
                         const std::string& target, const std::string& body,
                         const std::string& token) {
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

inline tcp::endpoint loopback(uint16_t port) {
    return tcp::endpoint(net::ip::make_address("127.0.0.1"), port);
}

class Connection {
  public:
    explicit Connection(uint16_t port) { stream_.connect(loopback(port)); }

    Response send(http::verb verb, const std::string& target, const std::string& body = "",
                  const std::string& token = TOKEN) {
        return exchange(stream_, buffer_, verb, target, body, token);
    }

    beast::tcp_stream& stream() { return stream_; }

  private:
    net::io_context io_;
    beast::tcp_stream stream_{io_};
    beast::flat_buffer buffer_;
};

class Stream {
  public:
    Stream(uint16_t port, const std::string& token = TOKEN) {
        beast::get_lowest_layer(ws_).connect(
            tcp::endpoint(net::ip::make_address("127.0.0.1"), port));
        ws_.set_option(websocket::stream_base::decorator([token](websocket::request_type& r) {
            r.set(http::field::authorization, "Bearer " + token);
        }));
        ws_.handshake(response_, "localhost", "/v1/stream");
        ws_.binary(true);
    }

    void send(const std::string& message) { ws_.write(net::buffer(message)); }
    // The next message, and whether it is text.
    std::string read(bool& text) {
        beast::flat_buffer buffer;
        ws_.read(buffer);
        text = ws_.got_text();
        return beast::buffers_to_string(buffer.data());
    }
    // Reads until the server closes; its close frame. `handshake`: the server waits for the
    // client's answer to its close, as it does for every close but one that Beast makes itself,
    // which may end the connection before the client's teardown is done.
    websocket::close_reason readClose(bool handshake = true) {
        beast::flat_buffer buffer;
        beast::error_code ec;
        while (!ec) ws_.read(buffer, ec);
        if (handshake) {
            EXPECT_EQ(ec, websocket::error::closed) << ec.message();
        }
        return ws_.reason();
    }
    websocket::stream<beast::tcp_stream>& ws() { return ws_; }

  private:
    net::io_context io_;
    websocket::stream<beast::tcp_stream> ws_{io_};
    websocket::response_type response_;
};

class ServerTest : public ::testing::Test {
  protected:
    void start(int devices = 1) {
        pool_ = std::make_unique<FakeDevicePool>(devices);
        startOn(*pool_);
    }

    void startOn(DevicePool& pool) {
        options_.tokenFile = "(the test's)";
        auto tokens = std::make_shared<TokenList>(
            std::vector<TokenList::Token>{{"alice", TOKEN}, {"bob", "secret-of-bob"}});
        server_ = std::make_unique<Server>(options_, pool, metrics_, tokens);
        // A socket on a port the system chooses, passed as systemd passes its sockets.
        net::io_context io;
        tcp::acceptor socket(io, tcp::endpoint(net::ip::make_address("127.0.0.1"), 0));
        std::string error;
        ASSERT_TRUE(server_->open({socket.release()}, error)) << error;
        server_->start(2);
        port_ = server_->port();
    }

    // Waits, bounded, until the fake's device `index` is free.
    bool freeWithin(std::chrono::milliseconds limit, std::size_t index = 0) {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (pool_->devices()[index].state == DeviceState::Free)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }

    ServerOptions options_;
    ServerMetrics metrics_;
    std::unique_ptr<FakeDevicePool> pool_;
    std::unique_ptr<Server> server_;
    uint16_t port_ = 0;
};
