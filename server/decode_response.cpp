#include "server/decode_response.h"

#include <algorithm>
#include <chrono>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/chunk_encode.hpp>
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

// A POST has no one to tell about events as they happen: its trailer has the count.
class NoEvents : public StreamListener {
  public:
    void frameConcealed(uint64_t, const std::vector<std::string>&) override {}
    void deviceAway(const std::string&, uint64_t) override {}
    void deviceBack(const std::string&, uint64_t) override {}
};

std::string endText(const StreamOutcome& outcome) {
    switch (outcome.end) {
        case StreamEnd::DeviceGone:
            return "device gone: " + outcome.message;
        case StreamEnd::NotResponding:
            return "device not responding: " + outcome.message;
        case StreamEnd::Cancelled:
        case StreamEnd::None:
            break;
    }
    return std::string();
}

}  // namespace

DecodeResponse::DecodeResponse(ServerContext& context, Transport& stream,
                               std::shared_ptr<void> owner, std::unique_ptr<DeviceLease> lease,
                               std::string body, bool wav, unsigned httpVersion, bool keepAlive,
                               std::function<void(DecodeResult)> done)
    : context_(context),
      stream_(stream),
      owner_(std::move(owner)),
      lease_(std::move(lease)),
      body_(std::move(body)),
      wav_(wav),
      keepAlive_(keepAlive),
      done_(std::move(done)) {
    header_.result(http::status::ok);
    header_.version(httpVersion);
    header_.set(http::field::content_type, wav_ ? "audio/wav" : "application/octet-stream");
    header_.set(http::field::trailer, "Usb3k-Frames-Concealed, Usb3k-Error");
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
    if (outcome.end != StreamEnd::None && error_.empty())
        error_ = endText(outcome);
    writeNext();
    decodeNext();
}

void DecodeResponse::writeNext() {
    if (!headerWritten_ || writingNow_ || gone_ || lastWritten_)
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
    trailer_.set("Usb3k-Frames-Concealed", std::to_string(lease_->framesConcealed()));
    if (!error_.empty())
        trailer_.set("Usb3k-Error", error_);
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
    if (lastWritten_) {
        if (error_.empty()) {
            finish("200", keepAlive_);
        } else {
            finish("200 " + error_, false);
        }
        return;
    }
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
    if (gone_ || finished_ || lastWritten_)
        return;
    if (error_.empty())
        error_ = "server draining";
    lease_->cancel();
    writeNext();
}

void DecodeResponse::finish(const std::string& outcome, bool keepAlive) {
    if (finished_)
        return;
    finished_ = true;
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
