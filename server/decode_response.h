// The answer to POST /v1/decode once the request holds its device: 200, then the speech in
// chunks as it is decoded (a WAV header first unless format=pcm), then the number of concealed
// frames as the trailer Usb3k-Frames-Concealed. The decodes run on the decode threads; at most
// two blocks wait to be written, so a slow reader holds memory bounded.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/serializer.hpp>

#include "server/device_pool.h"
#include "server/net_types.h"
#include "server/transport.h"

class ServerContext;

struct DecodeResult {
    uint64_t frames = 0;
    uint64_t concealed = 0;
    // For the log: "200", "200 device gone: ...", "client gone", ...
    std::string outcome;
    // Whether the connection may serve another request.
    bool keepAlive = false;
};

class DecodeResponse : public std::enable_shared_from_this<DecodeResponse> {
  public:
    // `stream` belongs to `owner`, which this keeps alive; `done` is called once, on the stream's
    // strand, when the answer is written or abandoned.
    DecodeResponse(ServerContext& context, Transport& stream, std::shared_ptr<void> owner,
                   std::unique_ptr<DeviceLease> lease, std::string body, bool wav,
                   unsigned httpVersion, bool keepAlive, std::function<void(DecodeResult)> done);

    void start();
    // The client left: the decode ends soon and nothing more is written.
    void clientGone();
    // The drain time-out: the decode ends soon and the answer ends with the reason.
    void drainExpired();

  private:
    void decodeNext();
    void blockDecoded(std::vector<uint8_t> pcm, StreamOutcome outcome);
    void writeNext();
    void written(beast::error_code ec);
    void finish(const std::string& outcome, bool keepAlive);

    ServerContext& context_;
    Transport& stream_;
    std::shared_ptr<void> owner_;
    std::shared_ptr<DeviceLease> lease_;
    std::string body_;
    bool wav_;
    bool keepAlive_;
    std::function<void(DecodeResult)> done_;

    beast::http::response<beast::http::empty_body> header_;
    beast::http::response_serializer<beast::http::empty_body> serializer_{header_};
    std::deque<std::vector<uint8_t>> blocks_;
    std::vector<uint8_t> writing_;
    beast::http::fields trailer_;
    std::size_t nextFrame_ = 0;
    std::size_t framesDone_ = 0;
    bool headerWritten_ = false;
    bool decoding_ = false;
    bool writingNow_ = false;
    bool lastWritten_ = false;
    bool finished_ = false;
    bool gone_ = false;
    // Set when the answer ends before its last frame: the reason, sent as Usb3k-Error.
    std::string error_;
};
