#include "server/decode_response.h"

#include <algorithm>
#include <chrono>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/chunk_encode.hpp>
#include <boost/beast/http/rfc7230.hpp>
#include <boost/beast/http/write.hpp>

#include "device/frame_packing.h"
#include "packet/packet_constants.h"
#include "server/server_context.h"
#include "server/wav_header.h"

namespace http = beast::http;

namespace {

// Frames per decode call and per chunk: 0.5 s of speech, so the first bytes come early and the
// device is never idle for long between calls.
constexpr std::size_t BLOCK_FRAMES = 25;
// Decoded blocks that may wait to be written.
constexpr std::size_t MAX_WAITING_BLOCKS = 2;
// The name of the concealed count, as a trailer field and in a WAV answer's comment.
constexpr const char* CONCEALED_FIELD = "Usb3k-Frames-Concealed";

// A POST has no one to tell about events as they happen: its answer ends with the count.
class NoEvents : public StreamListener {
  public:
    void frameConcealed(uint64_t, const std::vector<std::string>&) override {}
    void deviceAway(const std::string&, uint64_t) override {}
    void deviceBack(const std::string&, uint64_t) override {}
};

// The metric's label for a decode that ended before its last frame; null when it did not.
const char* endReason(const StreamOutcome& outcome) {
    switch (outcome.end) {
        case StreamEnd::DeviceGone:
            return "device_gone";
        case StreamEnd::NotResponding:
            return "device_not_responding";
        case StreamEnd::Cancelled:
        case StreamEnd::None:
            break;
    }
    return nullptr;
}

std::string endText(const StreamOutcome& outcome) {
    return (outcome.end == StreamEnd::DeviceGone ? "device gone: " : "device not responding: ") +
           outcome.message;
}

}  // namespace

bool acceptsTrailers(const http::fields& request) {
    // TE is a list of transfer codings with parameters (`gzip;q=0.5`): Beast's list of them.
    return http::ext_list(request[http::field::te]).exists("trailers");
}

DecodeResponse::DecodeResponse(ServerContext& context, Transport& stream,
                               std::shared_ptr<void> owner, std::unique_ptr<DeviceLease> lease,
                               std::string body, bool wav, unsigned httpVersion, bool keepAlive,
                               bool trailers, std::function<void(DecodeResult)> done)
    : context_(context),
      stream_(stream),
      owner_(std::move(owner)),
      lease_(std::move(lease)),
      body_(std::move(body)),
      wav_(wav),
      keepAlive_(keepAlive),
      trailers_(trailers),
      done_(std::move(done)) {
    header_.result(http::status::ok);
    header_.version(httpVersion);
    header_.set(http::field::content_type, wav_ ? "audio/wav" : "application/octet-stream");
    if (trailers_)
        header_.set(http::field::trailer, CONCEALED_FIELD);
    header_.keep_alive(keepAlive_);
    header_.chunked(true);
}

void DecodeResponse::start() {
    std::size_t frames = body_.size() / VCW_FRAME_SIZE;
    if (wav_)
        blocks_.push_back(wavHeader(frames * SPEECH_BLOCK_SIZE));
    auto self = this->shared_from_this();
    stream_.tcp().expires_after(context_.options.writeTimeout);
    writingNow_ = true;
    http::async_write_header(stream_, serializer_, [self](beast::error_code ec, std::size_t) {
        self->headerWritten_ = true;
        self->written(ec);
    });
    decodeNext();
}

void DecodeResponse::decodeNext() {
    std::size_t total = body_.size() / VCW_FRAME_SIZE;
    if (decoding_ || gone_ || !error_.empty() || nextFrame_ >= total ||
        blocks_.size() >= MAX_WAITING_BLOCKS) {
        return;
    }
    std::size_t count = std::min(BLOCK_FRAMES, total - nextFrame_);
    const uint8_t* vcw =
        reinterpret_cast<const uint8_t*>(body_.data()) + nextFrame_ * VCW_FRAME_SIZE;
    nextFrame_ += count;
    decoding_ = true;
    auto self = this->shared_from_this();
    context_.workers->post([self, vcw, count] {
        std::vector<uint8_t> pcm(count * SPEECH_BLOCK_SIZE);
        NoEvents events;
        auto begin = std::chrono::steady_clock::now();
        StreamOutcome outcome = self->lease_->decode(vcw, count, pcm.data(), events);
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
        self->context_.metrics.observeFrames(outcome.frames, took.count());
        pcm.resize(outcome.frames * SPEECH_BLOCK_SIZE);
        net::post(self->stream_.get_executor(),
                  [self, pcm = std::move(pcm), outcome = std::move(outcome)]() mutable {
                      self->blockDecoded(std::move(pcm), std::move(outcome));
                  });
    });
}

void DecodeResponse::blockDecoded(std::vector<uint8_t> pcm, StreamOutcome outcome) {
    decoding_ = false;
    framesDone_ += outcome.frames;
    if (gone_) {
        if (!writingNow_)
            finish("client gone", false);
        return;
    }
    if (!pcm.empty())
        blocks_.push_back(std::move(pcm));
    if (const char* reason = endReason(outcome))
        cutShort(reason, endText(outcome));
    writeNext();
    decodeNext();
}

void DecodeResponse::writeNext() {
    if (!headerWritten_ || writingNow_ || gone_ || lastWritten_ || finished_)
        return;
    auto self = this->shared_from_this();
    auto handler = [self](beast::error_code ec, std::size_t) { self->written(ec); };
    stream_.tcp().expires_after(context_.options.writeTimeout);
    if (!blocks_.empty()) {
        writing_ = std::move(blocks_.front());
        blocks_.pop_front();
        writingNow_ = true;
        net::async_write(stream_, http::make_chunk(net::buffer(writing_)), handler);
        decodeNext();
        return;
    }
    std::size_t total = body_.size() / VCW_FRAME_SIZE;
    if (decoding_ || (error_.empty() && nextFrame_ < total))
        return;
    if (!error_.empty()) {
        // Cut short: the speech decoded is written; no last chunk follows.
        return finish("200 " + error_, false);
    }
    std::string concealed = std::to_string(lease_->framesConcealed());
    if (wav_ && !commentQueued_) {
        commentQueued_ = true;
        blocks_.push_back(wavCommentChunk(std::string(CONCEALED_FIELD) + ": " + concealed));
        return writeNext();
    }
    if (trailers_)
        trailer_.set(CONCEALED_FIELD, concealed);
    lastWritten_ = true;
    writingNow_ = true;
    net::async_write(stream_, http::make_chunk_last(trailer_), handler);
}

void DecodeResponse::written(beast::error_code ec) {
    writingNow_ = false;
    if (ec) {
        // The client left or read nothing for the write time-out.
        if (!gone_) {
            gone_ = true;
            lease_->cancel();
        }
    }
    if (gone_) {
        if (!decoding_)
            finish(ec ? "client gone: " + ec.message() : "client gone", false);
        return;
    }
    if (lastWritten_)
        return finish("200", keepAlive_);
    writeNext();
}

void DecodeResponse::clientGone() {
    if (gone_ || finished_)
        return;
    gone_ = true;
    lease_->cancel();
    if (!decoding_ && !writingNow_)
        finish("client gone", false);
}

void DecodeResponse::drainExpired() {
    cutShort("server_draining", "server draining");
    writeNext();
}

void DecodeResponse::tokenRevoked() {
    cutShort("token_revoked", "token revoked");
    writeNext();
}

void DecodeResponse::cutShort(const char* reason, std::string text) {
    // Every frame decoded: the answer is whole and ends as one.
    bool decoded = framesDone_ >= body_.size() / VCW_FRAME_SIZE;
    if (gone_ || finished_ || decoded || !error_.empty())
        return;
    error_ = std::move(text);
    cutShortReason_ = reason;
    lease_->cancel();
}

void DecodeResponse::finish(const std::string& outcome, bool keepAlive) {
    if (finished_)
        return;
    finished_ = true;
    if (cutShortReason_ != nullptr && !gone_)
        context_.metrics.decodeCutShort(cutShortReason_);
    DecodeResult result;
    result.frames = framesDone_;
    result.concealed = lease_->framesConcealed();
    result.outcome = outcome;
    result.keepAlive = keepAlive;
    // The device goes back before the next request is read.
    context_.giveBack(std::move(lease_));
    auto done = std::move(done_);
    auto owner = std::move(owner_);
    done(std::move(result));
}
