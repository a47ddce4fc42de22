#include "server/stream_session.h"

#include <poll.h>

#include <chrono>
#include <deque>
#include <vector>

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/websocket.hpp>

#include "device/frame_packing.h"
#include "packet/packet_constants.h"
#include "server/auth.h"
#include "server/frame_input.h"
#include "server/json_texts.h"
#include "server/server_context.h"

namespace websocket = beast::websocket;

namespace {

constexpr uint16_t CLOSE_DEVICE_GONE = 4001;
constexpr uint16_t CLOSE_NOT_RESPONDING = 4002;
constexpr uint16_t CLOSE_TOKEN_REVOKED = 4003;
// How often a stream whose reading waits for its answers looks whether its client has left.
constexpr std::chrono::milliseconds HANG_UP_CHECK{250};
// A close frame's reason holds at most 123 bytes.
constexpr std::size_t MAX_CLOSE_REASON = 123;

// A reason that fits a close frame: a longer one ends at its last whole word, followed by "...",
// so that no word (nor a character of several bytes) is cut.
std::string closeReasonText(std::string reason) {
    if (reason.size() <= MAX_CLOSE_REASON)
        return reason;
    std::size_t cut = reason.rfind(' ', MAX_CLOSE_REASON - 3);
    reason.resize(cut == std::string::npos ? MAX_CLOSE_REASON - 3 : cut);
    return reason + "...";
}

class StreamSession : public WorkItem, public std::enable_shared_from_this<StreamSession> {
  public:
    StreamSession(ServerContext& context, Transport&& stream, StreamStart start)
        : context_(context),
          ws_(std::move(stream)),
          start_(std::move(start)),
          lease_(std::move(start_.lease)),
          idleTimer_(ws_.get_executor()),
          writeTimer_(ws_.get_executor()),
          hangUpTimer_(ws_.get_executor()) {}

    ~StreamSession() override {
        context_.giveBack(std::move(lease_));
        context_.metrics.streamHeld(-static_cast<double>(heldMessages_),
                                    -static_cast<double>(heldBytes_));
        context_.remove(this);
        start_.log.frames = frames_;
        start_.log.write(outcome_);
    }

    void run() {
        context_.add(this->shared_from_this());
        ws_.next_layer().tcp().expires_never();
        websocket::stream_base::timeout timeouts{};
        timeouts.handshake_timeout = context_.options.readTimeout;
        timeouts.idle_timeout = websocket::stream_base::none();
        timeouts.keep_alive_pings = false;
        ws_.set_option(timeouts);
        ws_.read_message_max(context_.options.maxMessageFrames * VCW_FRAME_SIZE);
        ws_.auto_fragment(false);
        ws_.binary(true);
        ws_.async_accept(start_.upgrade, [self = this->shared_from_this()](beast::error_code ec) {
            if (ec)
                return self->stop("handshake failed: " + ec.message());
            self->accepted_ = true;
            // A reload before the handshake's end is checked here.
            if (auto tokens = self->context_.tokens(); tokens && self->revokedBy(*tokens))
                return;
            self->armIdle();
            self->watchForHangUp();
            self->doRead();
        });
    }

    void tokensReloaded(std::shared_ptr<const TokenList> tokens) override {
        net::post(ws_.get_executor(), [self = this->shared_from_this(), tokens] {
            if (self->accepted_)
                self->revokedBy(*tokens);
        });
    }

    void drainStarted() override {}

    void drainExpired() override {
        net::post(ws_.get_executor(), [self = this->shared_from_this()] {
            self->closeWith(static_cast<uint16_t>(websocket::close_code::going_away),
                            "server draining");
        });
    }

    // Tells the client about the device while a message is decoded, on the decoding thread.
    class Events : public StreamListener {
      public:
        explicit Events(std::shared_ptr<StreamSession> session) : session_(std::move(session)) {}
        void frameConcealed(uint64_t frame, const std::vector<std::string>& lines) override {
            send(concealedEvent(frame, lines));
        }
        void deviceAway(const std::string& serialNumber, uint64_t frame) override {
            send(deviceEvent("away", serialNumber, frame));
        }
        void deviceBack(const std::string& serialNumber, uint64_t frame) override {
            send(deviceEvent("back", serialNumber, frame));
        }

      private:
        void send(std::string text) {
            auto session = session_;
            net::post(session->ws_.get_executor(), [session, text = std::move(text)]() mutable {
                session->queue(true, std::vector<uint8_t>(text.begin(), text.end()), false);
            });
        }
        std::shared_ptr<StreamSession> session_;
    };

  private:
    struct Outgoing {
        bool text;
        std::vector<uint8_t> data;
        bool answer;  // the speech of one message read
    };

    // Closes the stream when its token is not in `tokens`.
    bool revokedBy(const TokenList& tokens) {
        if (!tokenRevoked(start_.token, tokens))
            return false;
        // An event first, as for the device's news, for clients that read events and not close
        // reasons.
        std::string event = deviceEvent("revoked", lease_ ? lease_->serialNumber() : "", frames_);
        queue(true, std::vector<uint8_t>(event.begin(), event.end()), false);
        closeWith(CLOSE_TOKEN_REVOKED, "token revoked");
        return true;
    }

    void doRead() {
        reading_ = true;
        ws_.async_read(readBuffer_, [self = this->shared_from_this()](
                                        beast::error_code ec, std::size_t) { self->onRead(ec); });
    }

    void onRead(beast::error_code ec) {
        reading_ = false;
        if (ec) {
            if (ec == websocket::error::closed) {
                auto reason = ws_.reason();
                return stop(std::to_string(reason.code) + " closed by the client");
            }
            if (ec == websocket::error::message_too_big) {
                return stop("1009 a message is larger than " +
                            std::to_string(context_.options.maxMessageFrames) + " frames");
            }
            return stop(closing_ ? outcome_ : "client gone: " + ec.message());
        }
        if (closing_) {
            readBuffer_.clear();
            return doRead();
        }
        if (!ws_.got_binary()) {
            return closeWith(static_cast<uint16_t>(websocket::close_code::unknown_data),
                             "only binary messages of VCW frames are read");
        }
        std::string error = wholeFramesError("the message", readBuffer_.size());
        if (!error.empty()) {
            return closeWith(static_cast<uint16_t>(websocket::close_code::bad_payload), error);
        }
        auto bytes = static_cast<const uint8_t*>(readBuffer_.data().data());
        inbox_.emplace_back(bytes, bytes + readBuffer_.size());
        readBuffer_.clear();
        ++inFlight_;
        armIdle();
        decodeNext();
        account();
        if (inFlight_ < context_.options.maxInFlight)
            doRead();
    }

    void decodeNext() {
        if (decoding_ || inbox_.empty() || closing_ || stopped_)
            return;
        decoding_ = true;
        auto self = this->shared_from_this();
        auto vcw = std::make_shared<std::vector<uint8_t>>(std::move(inbox_.front()));
        inbox_.pop_front();
        decodingBytes_ = vcw->size() + vcw->size() / VCW_FRAME_SIZE * SPEECH_BLOCK_SIZE;
        context_.workers->post([self, vcw] {
            std::size_t frames = vcw->size() / VCW_FRAME_SIZE;
            std::vector<uint8_t> pcm(frames * SPEECH_BLOCK_SIZE);
            Events events(self);
            auto begin = std::chrono::steady_clock::now();
            StreamOutcome outcome = self->lease_->decode(vcw->data(), frames, pcm.data(), events);
            std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
            self->context_.metrics.observeFrames(outcome.frames, took.count());
            pcm.resize(outcome.frames * SPEECH_BLOCK_SIZE);
            net::post(self->ws_.get_executor(),
                      [self, pcm = std::move(pcm), outcome = std::move(outcome)]() mutable {
                          self->decoded(std::move(pcm), outcome);
                      });
        });
    }

    void decoded(std::vector<uint8_t> pcm, const StreamOutcome& outcome) {
        decoding_ = false;
        decodingBytes_ = 0;
        frames_ += outcome.frames;
        if (!pcm.empty() && !stopped_) {
            queue(false, std::move(pcm), true);
        } else {
            --inFlight_;
        }
        if (outcome.end == StreamEnd::DeviceGone) {
            closeWith(CLOSE_DEVICE_GONE, "device gone: " + outcome.message);
        } else if (outcome.end == StreamEnd::NotResponding) {
            closeWith(CLOSE_NOT_RESPONDING, "device not responding: " + outcome.message);
        }
        if (closing_ || stopped_) {
            releaseLease();
            writeNext();
            return;
        }
        decodeNext();
        resumeReading();
        account();
    }

    void queue(bool text, std::vector<uint8_t> data, bool answer) {
        if (stopped_)
            return;
        outbox_.push_back(Outgoing{text, std::move(data), answer});
        writeNext();
    }

    void writeNext() {
        account();
        if (writing_ || stopped_)
            return;
        if (outbox_.empty()) {
            if (closing_ && !decoding_ && !closeSent_)
                sendClose();
            return;
        }
        writing_ = true;
        const Outgoing& next = outbox_.front();
        ws_.text(next.text);
        armWriteTimer();
        ws_.async_write(net::buffer(next.data),
                        [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                            self->written(ec);
                        });
    }

    void written(beast::error_code ec) {
        writing_ = false;
        writeTimer_.cancel();
        if (ec)
            return stop("client gone: " + ec.message());
        if (outbox_.front().answer)
            --inFlight_;
        outbox_.pop_front();
        if (!closing_) {
            armIdle();
            resumeReading();
        }
        writeNext();
    }

    void resumeReading() {
        if (!reading_ && !closing_ && !stopped_ && inFlight_ < context_.options.maxInFlight) {
            doRead();
        }
    }

    // Ends the stream with a close frame once what is decoded is written.
    void closeWith(uint16_t code, std::string reason) {
        if (closing_ || stopped_)
            return;
        closing_ = true;
        reason = closeReasonText(std::move(reason));
        closeCode_ = code;
        closeReason_ = reason;
        outcome_ = std::to_string(code) + " " + reason;
        inbox_.clear();
        idleTimer_.cancel();
        if (decoding_) {
            lease_->cancel();
        } else {
            releaseLease();
        }
        writeNext();
    }

    void sendClose() {
        closeSent_ = true;
        armWriteTimer();
        websocket::close_reason reason;
        reason.code = closeCode_;
        reason.reason = closeReason_;
        ws_.async_close(reason, [self = this->shared_from_this()](beast::error_code) {
            self->writeTimer_.cancel();
        });
    }

    // The connection is gone or closed: nothing more is written, the device goes back.
    void stop(const std::string& outcome, bool abort = false) {
        if (stopped_)
            return;
        stopped_ = true;
        if (!closing_ || outcome_.empty())
            outcome_ = outcome;
        idleTimer_.cancel();
        writeTimer_.cancel();
        hangUpTimer_.cancel();
        outbox_.clear();
        inbox_.clear();
        account();
        if (decoding_) {
            lease_->cancel();
        } else {
            releaseLease();
        }
        // A client that reads nothing is cut off; otherwise the connection has ended already, or
        // ends with the teardown of its close handshake.
        if (abort) {
            beast::error_code ignored;
            ws_.next_layer().tcp().socket().close(ignored);
        }
    }

    // Tells the metrics what the stream holds now: the messages read and not yet decoded, the one
    // being decoded with its speech, and what waits to be written. The in-flight limit bounds it.
    void account() {
        std::size_t messages = inbox_.size() + outbox_.size() + (decodingBytes_ > 0 ? 1 : 0);
        std::size_t bytes = readBuffer_.size() + decodingBytes_;
        for (const auto& message : inbox_) bytes += message.size();
        for (const Outgoing& message : outbox_) bytes += message.data.size();
        context_.metrics.streamHeld(
            static_cast<double>(messages) - static_cast<double>(heldMessages_),
            static_cast<double>(bytes) - static_cast<double>(heldBytes_));
        heldMessages_ = messages;
        heldBytes_ = bytes;
    }

    void releaseLease() {
        if (!lease_)
            return;
        start_.log.concealed = lease_->framesConcealed();
        context_.giveBack(std::move(lease_));
    }

    void armIdle() {
        idleTimer_.expires_after(context_.options.idleTimeout);
        idleTimer_.async_wait([self = this->shared_from_this()](beast::error_code ec) {
            if (ec || self->closing_ || self->stopped_)
                return;
            if (self->inFlight_ > 0)
                return self->armIdle();
            self->closeWith(static_cast<uint16_t>(websocket::close_code::policy_error),
                            "idle time-out: no frames for " +
                                std::to_string(self->context_.options.idleTimeout.count()) + " s");
        });
    }

    // While its reading waits for answers (the in-flight bound), nothing reads the client's
    // socket, so a client that leaves would be noticed only when the answers are written, seconds
    // later with long messages. A look at the socket every HANG_UP_CHECK notices a hang-up or a
    // reset meanwhile and ends the stream, so that its device goes back within a second.
    void watchForHangUp() {
        hangUpTimer_.expires_after(HANG_UP_CHECK);
        std::weak_ptr<StreamSession> weak = this->shared_from_this();
        hangUpTimer_.async_wait([weak](beast::error_code ec) {
            auto self = weak.lock();
            if (ec || !self || self->stopped_)
                return;
            if (!self->reading_ && self->hungUp())
                return self->stop("client gone: the connection was closed", true);
            self->watchForHangUp();
        });
    }

    bool hungUp() {
        pollfd watched{};
        watched.fd = ws_.next_layer().tcp().socket().native_handle();
        watched.events = POLLRDHUP;
        return ::poll(&watched, 1, 0) > 0 &&
               (watched.revents & (POLLRDHUP | POLLERR | POLLHUP | POLLNVAL)) != 0;
    }

    // A client that reads nothing for the write time-out is disconnected.
    void armWriteTimer() {
        writeTimer_.expires_after(context_.options.writeTimeout);
        writeTimer_.async_wait([self = this->shared_from_this()](beast::error_code ec) {
            if (ec)
                return;
            self->stop("client read nothing for " +
                           std::to_string(self->context_.options.writeTimeout.count()) + " s",
                       true);
        });
    }

    ServerContext& context_;
    websocket::stream<Transport> ws_;
    StreamStart start_;
    std::shared_ptr<DeviceLease> lease_;
    net::steady_timer idleTimer_;
    net::steady_timer writeTimer_;
    net::steady_timer hangUpTimer_;

    beast::flat_buffer readBuffer_;
    std::deque<std::vector<uint8_t>> inbox_;
    std::deque<Outgoing> outbox_;
    std::size_t inFlight_ = 0;
    std::size_t decodingBytes_ = 0;
    std::size_t heldMessages_ = 0;
    std::size_t heldBytes_ = 0;
    uint64_t frames_ = 0;
    bool accepted_ = false;
    bool reading_ = false;
    bool decoding_ = false;
    bool writing_ = false;
    bool closing_ = false;
    bool closeSent_ = false;
    bool stopped_ = false;
    uint16_t closeCode_ = 0;
    std::string closeReason_;
    std::string outcome_ = "1000 closed";
};

}  // namespace

void runStreamSession(ServerContext& context, Transport&& stream, StreamStart start) {
    std::make_shared<StreamSession>(context, std::move(stream), std::move(start))->run();
}
