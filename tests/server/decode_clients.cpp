#include "tests/server/decode_clients.h"

#include <boost/beast/http/read.hpp>
#include <boost/beast/http/vector_body.hpp>
#include <boost/beast/http/write.hpp>

namespace decode_clients {

StreamClient::StreamClient(uint16_t port, const std::string& target)
    : stream_(std::make_unique<Stream>(port, "", target)) {}

StreamClient::~StreamClient() = default;

std::vector<uint8_t> StreamClient::decode(const std::vector<uint8_t>& vcw,
                                          std::size_t messageFrames, std::size_t ahead) {
    const std::size_t messageBytes = messageFrames * FRAME_BYTES;
    std::vector<uint8_t> speech;
    std::size_t sent = 0;
    std::size_t unanswered = 0;
    while (sent < vcw.size() || unanswered > 0) {
        while (sent < vcw.size() && unanswered < ahead) {
            const std::size_t bytes = std::min(messageBytes, vcw.size() - sent);
            stream_->send(vcw.data() + sent, bytes);
            sent += bytes;
            ++unanswered;
        }
        bool text = false;
        std::string message = stream_->read(text);
        if (text) {
            ++events;
            continue;
        }
        speech.insert(speech.end(), message.begin(), message.end());
        --unanswered;
    }
    return speech;
}

void StreamClient::close() {
    stream_->close();
}

PostResult postDecode(uint16_t port, const std::string& target, const std::vector<uint8_t>& vcw) {
    net::io_context io;
    beast::tcp_stream stream(io);
    stream.connect(loopback(port));
    http::request<http::vector_body<uint8_t>> request(http::verb::post, target, 11);
    request.set(http::field::host, "localhost");
    request.set(http::field::content_type, "application/octet-stream");
    request.set(http::field::te, "trailers");
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
    beast::error_code ignored;
    stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
    return result;
}

}  // namespace decode_clients
