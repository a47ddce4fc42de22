// Clients of usb3k-server's decode routes on loopback, with Beast's synchronous streams: a live
// stream over a WebSocket and a POST /v1/decode. The load test and the benchmarks share them, and
// the speech the emulator gives for each frame, as the server answers it (little-endian).
#pragma once

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/usb3k_sim.h"

namespace decode_clients {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;

constexpr std::size_t FRAME_BYTES = 7;
constexpr std::size_t BLOCK_BYTES = 320;

inline tcp::endpoint loopback(uint16_t port) {
    return tcp::endpoint(net::ip::make_address("127.0.0.1"), port);
}

// The emulated device's speech for each 7-byte frame of `vcw`, samples little-endian.
inline std::vector<uint8_t> emulatedSpeech(const std::vector<uint8_t>& vcw) {
    std::vector<uint8_t> speech(vcw.size() / FRAME_BYTES * BLOCK_BYTES);
    for (std::size_t f = 0; f < vcw.size() / FRAME_BYTES; ++f) {
        uint64_t codeword = 0;
        for (std::size_t i = 0; i < FRAME_BYTES; ++i) codeword = codeword << 8 | vcw[f * 7 + i];
        uint8_t* block = speech.data() + f * BLOCK_BYTES;
        sim_speech_for_codeword(codeword & ((uint64_t{1} << 49) - 1), block);
        for (std::size_t i = 0; i + 1 < BLOCK_BYTES; i += 2) std::swap(block[i], block[i + 1]);
    }
    return speech;
}

// Blocks of `got` that differ from `expected`'s, block by block, and the blocks missing.
inline std::size_t wrongBlocks(const std::vector<uint8_t>& got,
                               const std::vector<uint8_t>& expected) {
    std::size_t wrong = 0;
    for (std::size_t at = 0; at < expected.size(); at += BLOCK_BYTES) {
        if (at + BLOCK_BYTES > got.size() ||
            !std::equal(expected.begin() + at, expected.begin() + at + BLOCK_BYTES,
                        got.begin() + at)) {
            ++wrong;
        }
    }
    return wrong + (got.size() > expected.size() ? 1 : 0);
}

// A live stream: GET /v1/stream upgraded to a WebSocket.
class StreamClient {
  public:
    StreamClient(uint16_t port, const std::string& target) {
        beast::get_lowest_layer(ws_).connect(loopback(port));
        ws_.handshake("localhost", target);
        ws_.binary(true);
    }

    // Sends `vcw` in messages of `messageFrames` frames, `ahead` of them unanswered at most, and
    // returns the speech of the answers in order; text messages (events) are counted.
    std::vector<uint8_t> decode(const std::vector<uint8_t>& vcw, std::size_t messageFrames,
                                std::size_t ahead) {
        const std::size_t messageBytes = messageFrames * FRAME_BYTES;
        std::vector<uint8_t> speech;
        std::size_t sent = 0;
        std::size_t unanswered = 0;
        beast::flat_buffer buffer;
        while (sent < vcw.size() || unanswered > 0) {
            while (sent < vcw.size() && unanswered < ahead) {
                const std::size_t bytes = std::min(messageBytes, vcw.size() - sent);
                ws_.write(net::buffer(vcw.data() + sent, bytes));
                sent += bytes;
                ++unanswered;
            }
            buffer.clear();
            ws_.read(buffer);
            if (ws_.got_text()) {
                ++events;
                continue;
            }
            const auto* data = static_cast<const uint8_t*>(buffer.data().data());
            speech.insert(speech.end(), data, data + buffer.size());
            --unanswered;
        }
        return speech;
    }

    void close() { ws_.close(websocket::close_code::normal); }

    std::size_t events = 0;

  private:
    net::io_context io_;
    websocket::stream<beast::tcp_stream> ws_{io_};
};

// POST /v1/decode?format=pcm on a connection of its own.
struct PostResult {
    unsigned status = 0;
    std::vector<uint8_t> speech;
    std::string concealed;
    std::string error;
};

inline PostResult postDecode(uint16_t port, const std::string& target,
                             const std::vector<uint8_t>& vcw) {
    net::io_context io;
    beast::tcp_stream stream(io);
    stream.connect(loopback(port));
    http::request<http::vector_body<uint8_t>> request(http::verb::post, target, 11);
    request.set(http::field::host, "localhost");
    request.set(http::field::content_type, "application/octet-stream");
    request.body() = vcw;
    request.prepare_payload();
    http::write(stream, request);
    beast::flat_buffer buffer;
    http::response_parser<http::vector_body<uint8_t>> parser;
    parser.body_limit(64 * 1024 * 1024);
    http::read(stream, buffer, parser);
    auto response = parser.release();
    PostResult result;
    result.status = response.result_int();
    result.speech = std::move(response.body());
    result.concealed = std::string(response["Usb3k-Frames-Concealed"]);
    result.error = std::string(response["Usb3k-Error"]);
    beast::error_code ignored;
    stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
    return result;
}

}  // namespace decode_clients
