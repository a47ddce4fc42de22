// The answer to POST /v1/decode once the request holds its device: 200, then the speech in
// chunks as it is decoded. A WAV answer starts with its header and ends with a comment chunk
// "Usb3k-Frames-Concealed: N", whose room the header counts; the last chunk carries the same
// count as a trailer field only when the request says `TE: trailers`, since many clients fail on
// trailer fields they did not ask for. A decode cut short (the device gone or not responding, the
// drain time-out, its token revoked) never sends the last chunk: the connection closes after the
// speech decoded, so that every client sees an incomplete answer rather than a short success. The
// decodes run on the decode threads; at most two blocks wait to be written, so a slow reader
// holds memory bounded.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/fields.hpp>
#include <boost/beast/http/serializer.hpp>

#include "server/device_pool.h"
#include "server/net_types.h"
#include "server/transport.h"

class ServerContext;

// Whether a request's TE header names `trailers` (RFC 9110 §10.1.4), in any case, among members
// that may carry weights.
bool acceptsTrailers(const beast::http::fields& request);

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
                   unsigned httpVersion, bool keepAlive, bool trailers,
                   std::function<void(DecodeResult)> done);

    void start();
    // The client left: the decode ends soon and nothing more is written.
    void clientGone();
    // The drain time-out: the decode ends soon and the answer is cut short.
    void drainExpired();
    // The request's token is no longer in the token list: as the drain time-out.
    void tokenRevoked();

  private:
    void decodeNext();
    void blockDecoded(std::vector<uint8_t> pcm, StreamOutcome outcome);
    void writeNext();
    void written(beast::error_code ec);
    // Ends the decode before its last frame; `reason` labels the metric, `text` the log line.
    void cutShort(const char* reason, std::string text);
    void finish(const std::string& outcome, bool keepAlive);

    ServerContext& context_;
    Transport& stream_;
    std::shared_ptr<void> owner_;
    std::shared_ptr<DeviceLease> lease_;
    std::string body_;
    bool wav_;
    bool keepAlive_;
    bool trailers_;
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
    bool commentQueued_ = false;
    bool lastWritten_ = false;
    bool finished_ = false;
    bool gone_ = false;
    // Set when the answer ends before its last frame: why, for the log and the metric.
    std::string error_;
    const char* cutShortReason_ = nullptr;
};
