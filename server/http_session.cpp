#include "server/http_session.h"

#include <chrono>
#include <iterator>
#include <optional>

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include "device/frame_packing.h"
#include "server/auth.h"
#include "server/decode_response.h"
#include "server/frame_input.h"
#include "server/log_text.h"
#include "server/request_framing.h"
#include "server/request_log.h"
#include "server/routes.h"
#include "server/server_context.h"
#include "server/stream_session.h"

namespace http = beast::http;

namespace {

// While a request waits for its device or is decoded, the connection is still read, so that a
// client that leaves is seen at once; what a pipelining client sends meanwhile is kept, up to this.
constexpr std::size_t WATCH_READ_BYTES = 1024;
// How long a TLS client has to answer the server's close_notify.
constexpr std::chrono::seconds TLS_CLOSE_GRACE{1};
// After an answer to a request whose body was not read, how long what the client still sends is
// read and dropped, a little at a time, so that it reads the answer before the connection is
// reset.
constexpr std::chrono::seconds UNREAD_BODY_GRACE{1};
constexpr std::size_t DISCARD_BYTES = 4096;
// How much of a client's method, path and serial number a log line shows.
constexpr std::size_t LOG_METHOD_CHARS = 32;
constexpr std::size_t LOG_PATH_CHARS = 256;
constexpr std::size_t LOG_SERIAL_CHARS = 64;

class HttpSession : public WorkItem, public std::enable_shared_from_this<HttpSession> {
  public:
    HttpSession(ServerContext& context, Transport&& stream, beast::flat_buffer&& buffer,
                std::unique_ptr<ConnectionLimits::Slot> slot, std::string client)
        : context_(context),
          stream_(std::move(stream)),
          buffer_(std::move(buffer)),
          slot_(std::move(slot)),
          client_(std::move(client)),
          queueTimer_(stream_.get_executor()) {}

    ~HttpSession() override { context_.remove(this); }

    void run() {
        context_.add(this->shared_from_this());
        std::weak_ptr<HttpSession> weak = this->shared_from_this();
        context_.limits.onEvict(*slot_, [weak, executor = stream_.get_executor()] {
            net::post(executor, [weak] {
                if (auto self = weak.lock())
                    self->evicted();
            });
        });
        net::post(stream_.get_executor(), [self = this->shared_from_this()] { self->doRead(); });
    }

    void drainStarted() override {
        net::post(stream_.get_executor(), [self = this->shared_from_this()] {
            // Between requests, the connection closes; work in progress goes on, and so does a
            // request that has begun to arrive (a decode's body still uploading, say).
            if (self->phase_ != Phase::Reading)
                return;
            if (self->requestHasBegun())
                self->admitDuringDrain_ = true;
            else
                self->stream_.tcp().cancel();
        });
    }

    void tokensReloaded(std::shared_ptr<const TokenList> tokens) override {
        net::post(stream_.get_executor(), [self = this->shared_from_this(), tokens] {
            if (!tokenRevoked(self->token_, *tokens))
                return;
            if (self->phase_ == Phase::Waiting && self->context_.pool.withdraw(self->ticket_)) {
                self->queueTimer_.cancel();
                self->reply(unauthorizedReply(), true);
            } else if (auto decode = self->decode_.lock()) {
                decode->tokenRevoked();
            }
        });
    }

    void drainExpired() override {
        net::post(stream_.get_executor(), [self = this->shared_from_this()] {
            if (self->phase_ == Phase::Reading) {
                self->stream_.tcp().cancel();
            } else if (self->phase_ == Phase::Waiting &&
                       self->context_.pool.withdraw(self->ticket_)) {
                self->queueTimer_.cancel();
                self->reply(unavailableReply("server draining", retryAfterSeconds(self->context_)),
                            true);
            } else if (auto decode = self->decode_.lock()) {
                decode->drainExpired();
            }
        });
    }

  private:
    enum class Phase { Reading, Replying, Waiting, Working, Done };
    enum class Work { Decode, WebSocket };

    // Bytes of the next request have arrived: buffered, or already taken by the parser.
    bool requestHasBegun() const { return buffer_.size() > 0 || (parser_ && parser_->got_some()); }

    // A newer connection needs this one's room among the unauthenticated: it closes, at once
    // between requests, else after its answer.
    void evicted() {
        if (authorized_)
            return;
        evicted_ = true;
        context_.metrics.connectionEvicted();
        uint64_t heldBack = 0;
        if (context_.evictionLog.allow(LogThrottle::Clock::now(), heldBack)) {
            if (heldBack > 0)
                logServer(std::to_string(heldBack) + " more connection" +
                          (heldBack == 1 ? "" : "s") + " closed to make room");
            logServer(client_ +
                      " closed to make room: connections without an authorized request are at "
                      "their bound (max-unauthenticated, max-connections-per-address)");
        }
        if (phase_ == Phase::Reading)
            stream_.tcp().cancel();
    }

    // The header first: a request's body is read only once its header is authorized, so that
    // a client without a token never has its body held.
    void doRead() {
        // While draining, a new connection is answered once (503 for new work), and kept alive no
        // longer.
        if (evicted_ || (context_.draining() && served_ > 0))
            return close();
        phase_ = Phase::Reading;
        request_ = {};
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(context_.options.maxHeaderBytes));
        parser_->body_limit(context_.options.maxBodyBytes);
        // An authorized connection may idle between requests up to the read time-out; one not
        // authorized yet has the header time-out, from its opening for its first request.
        if (authorized_)
            stream_.tcp().expires_after(context_.options.readTimeout);
        else if (served_ == 0)
            stream_.tcp().expires_at(slot_->opened() + context_.options.headerTimeout);
        else
            stream_.tcp().expires_after(context_.options.headerTimeout);
        http::async_read_header(stream_, buffer_, *parser_,
                                [self = this->shared_from_this()](
                                    beast::error_code ec, std::size_t) { self->onHeader(ec); });
    }

    void onHeader(beast::error_code ec) {
        log_ = RequestLog();
        log_.client = client_;
        if (readFailed(ec))
            return;
        // The body is read only once its framing is known to be unambiguous.
        const auto& header = parser_->get();
        std::string refusal = framingRefusal(header, header.version());
        if (!refusal.empty()) {
            log_.what = "request";
            reply(textReply(400, refusal), true);
            return;
        }
        headerFields_ = static_cast<std::size_t>(std::distance(header.begin(), header.end()));
        request_.base() = header.base();
        ++served_;
        // No byte of the body is read before the token is checked: a request that is refused
        // has its body dropped unread, and its connection closed.
        route();
    }

    void readBody() {
        if (parser_->is_done())
            return onBody({});
        stream_.tcp().expires_after(context_.options.readTimeout);
        http::async_read(stream_, buffer_, *parser_,
                         [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                             self->onBody(ec);
                         });
    }

    void onBody(beast::error_code ec) {
        if (readFailed(ec))
            return;
        request_ = parser_->release();
        dropTrailerFields(request_.base(), headerFields_);
        handle();
    }

    // Answers or closes a read that failed: true when it did.
    bool readFailed(beast::error_code ec) {
        if (!ec)
            return false;
        if (ec == http::error::header_limit) {
            log_.what = "request";
            reply(textReply(431, "the request's header is larger than " +
                                     std::to_string(context_.options.maxHeaderBytes) + " bytes"),
                  true);
            return true;
        }
        if (ec == http::error::body_limit) {
            log_.what = "request";
            reply(textReply(413, "the body is larger than " +
                                     std::to_string(context_.options.maxBodyBytes) + " bytes"),
                  true);
            return true;
        }
        if (ec.category() == http::make_error_code(http::error::end_of_stream).category() &&
            ec != http::error::end_of_stream && ec != http::error::partial_message) {
            log_.what = "request";
            reply(textReply(400, "malformed HTTP request: " + ec.message()), true);
            return true;
        }
        close();
        return true;
    }

    // From the header alone: the probes and what needs no token are answered (a body they have
    // is not read), a /v1/ request without a good token is refused, and an authorized one moves
    // its connection to the authenticated bound and has its body read.
    void route() {
        std::string_view path;
        std::string_view query;
        splitTarget(std::string_view(request_.target().data(), request_.target().size()), path,
                    query);
        log_.what = logText(request_.method_string(), LOG_METHOD_CHARS) + " " +
                    logText(path, LOG_PATH_CHARS);
        bool get = request_.method() == http::verb::get;
        if (path == "/healthz" || path == "/readyz" || path == "/metrics") {
            if (!get)
                return reply(notAllowed("GET"), false, false);
            if (path == "/healthz")
                return reply(healthReply(), false, false);
            if (path == "/readyz")
                return replyFromPool(readyReply, false);
            return replyFromPool(metricsReply, false);
        }
        if (path.substr(0, 4) != "/v1/")
            return reply(textReply(404, "no such resource"));

        std::shared_ptr<const TokenList> tokens = context_.tokens();
        auto authorization = request_[http::field::authorization];
        if (!authorize(std::string_view(authorization.data(), authorization.size()), tokens.get(),
                       log_.tokenName, token_)) {
            return reply(unauthorizedReply());
        }
        if (!context_.limits.authenticate(*slot_)) {
            return reply(
                unavailableReply("the server's " + std::to_string(context_.options.maxConnections) +
                                     " connections are all in use",
                                 retryAfterSeconds(context_)),
                true);
        }
        authorized_ = true;
        if (!context_.limits.claimForToken(*slot_, log_.tokenName)) {
            return reply(
                textReply(429, "this token's connections are at their limit (" +
                                   std::to_string(context_.options.maxConnectionsPerToken) + ")"),
                true);
        }
        readBody();
    }

    // An authorized request, body and all.
    void handle() {
        std::string_view path;
        std::string_view query;
        splitTarget(std::string_view(request_.target().data(), request_.target().size()), path,
                    query);
        bool get = request_.method() == http::verb::get;
        if (context_.draining() && !admitDuringDrain_) {
            return reply(unavailableReply("server draining", retryAfterSeconds(context_)), true);
        }
        if (path == "/v1/devices") {
            if (!get)
                return reply(notAllowed("GET"));
            return replyFromPool(devicesReply, true);
        }
        if (path == "/v1/decode") {
            if (request_.method() != http::verb::post)
                return reply(notAllowed("POST"));
            return startDecode(query);
        }
        if (path == "/v1/stream") {
            if (!get)
                return reply(notAllowed("GET"));
            if (!beast::websocket::is_upgrade(request_)) {
                Reply refusal = textReply(426, "GET /v1/stream is a WebSocket");
                refusal.headers.emplace_back("Upgrade", "websocket");
                return reply(refusal);
            }
            return startStream(query);
        }
        reply(textReply(404, "no such resource"));
    }

    static Reply notAllowed(const char* allowed) {
        Reply refusal = textReply(405, std::string("only ") + allowed + " is allowed here");
        refusal.headers.emplace_back("Allow", allowed);
        return refusal;
    }

    void startDecode(std::string_view query) {
        DecodeQuery decode;
        std::string error;
        if (!parseDecodeQuery(query, true, decode, error))
            return reply(textReply(400, error));
        error = wholeFramesError("the body", request_.body().size());
        if (!error.empty())
            return reply(textReply(400, error));
        wav_ = decode.wav;
        active_ = std::make_unique<ActiveWork>(context_.metrics, false);
        startWatch();
        acquire(decode.device, Work::Decode);
    }

    void startStream(std::string_view query) {
        DecodeQuery stream;
        std::string error;
        if (!parseDecodeQuery(query, false, stream, error))
            return reply(textReply(400, error));
        active_ = std::make_unique<ActiveWork>(context_.metrics, true);
        acquire(stream.device, Work::WebSocket);
    }

    void acquire(const std::string& serialNumber, Work work) {
        phase_ = Phase::Waiting;
        work_ = work;
        serialNumber_ = serialNumber;
        if (!serialNumber.empty())
            log_.device = logText(serialNumber, LOG_SERIAL_CHARS);
        waitStart_ = std::chrono::steady_clock::now();
        std::weak_ptr<HttpSession> weak = this->shared_from_this();
        auto executor = stream_.get_executor();
        ServerContext* context = &context_;
        std::string tokenName = log_.tokenName;
        // Opening a device for a request takes a moment: the pool is asked on a decode thread.
        // The session lives until its ticket is known; then its queue timer keeps it.
        context_.workers->post(
            [self = this->shared_from_this(), weak, executor, context, serialNumber, tokenName] {
                auto granted = [weak, executor, context](LeaseResult result) {
                    net::post(executor, [weak, context, result = std::move(result)]() mutable {
                        if (auto self = weak.lock())
                            return self->granted(std::move(result));
                        context->giveBack(std::move(result.lease));
                    });
                };
                DevicePool::Ticket ticket = context->pool.acquire(serialNumber, tokenName, granted);
                net::post(executor, [self, ticket] { self->ticketed(ticket); });
            });
    }

    // The pool has the request's ticket: it waits up to the queue time-out.
    void ticketed(DevicePool::Ticket ticket) {
        ticket_ = ticket;
        if (phase_ != Phase::Waiting)
            return;
        if (clientGone_ && context_.pool.withdraw(ticket_))
            return abandonWait();
        queueTimer_.expires_after(context_.options.queueTimeout);
        queueTimer_.async_wait([self = this->shared_from_this()](beast::error_code ec) {
            if (ec || self->phase_ != Phase::Waiting)
                return;
            if (!self->context_.pool.withdraw(self->ticket_))
                return;
            auto seconds = self->context_.options.queueTimeout.count();
            self->reply(
                unavailableReply("no USB-3000 was free within " + std::to_string(seconds) + " s",
                                 retryAfterSeconds(self->context_)));
        });
    }

    void granted(LeaseResult result) {
        if (phase_ != Phase::Waiting)
            return context_.giveBack(std::move(result.lease));
        queueTimer_.cancel();
        std::chrono::duration<double> waited = std::chrono::steady_clock::now() - waitStart_;
        context_.metrics.observeQueueWait(waited.count());
        if (clientGone_) {
            context_.giveBack(std::move(result.lease));
            return abandonWait();
        }
        if (!result.lease)
            return reply(refusalReply(result.refusal, serialNumber_, context_));
        // Revoked while it waited, before this session could be told.
        if (std::shared_ptr<const TokenList> tokens = context_.tokens();
            tokens && tokenRevoked(token_, *tokens)) {
            context_.giveBack(std::move(result.lease));
            return reply(unauthorizedReply(), true);
        }
        log_.device = result.lease->serialNumber();
        if (work_ == Work::WebSocket)
            return handOver(std::move(result.lease));

        phase_ = Phase::Working;
        bool keepAlive = request_.keep_alive() && !context_.draining();
        auto decode = std::make_shared<DecodeResponse>(
            context_, stream_, this->shared_from_this(), std::move(result.lease),
            std::move(request_.body()), wav_, request_.version(), keepAlive,
            acceptsTrailers(request_.base()),
            [self = this->shared_from_this()](DecodeResult done) { self->decoded(done); });
        decode_ = decode;
        decode->start();
    }

    void decoded(const DecodeResult& result) {
        decode_.reset();
        active_.reset();
        log_.frames = result.frames;
        log_.concealed = result.concealed;
        log_.write(result.outcome);
        if (!result.keepAlive || clientGone_)
            return close();
        nextRequest();
    }

    void handOver(std::unique_ptr<DeviceLease> lease) {
        phase_ = Phase::Done;
        StreamStart start;
        start.upgrade = std::move(request_);
        start.lease = std::move(lease);
        start.slot = std::move(slot_);
        start.active = std::move(active_);
        start.log = std::move(log_);
        start.token = token_;
        start.log.what = "stream";
        runStreamSession(context_, std::move(stream_), std::move(start));
    }

    // Reads the connection while the request is served, to see the client leave.
    void startWatch() {
        stream_.tcp().expires_never();
        watching_ = true;
        stream_.async_read_some(buffer_.prepare(WATCH_READ_BYTES),
                                [self = this->shared_from_this()](
                                    beast::error_code ec, std::size_t n) { self->watched(ec, n); });
    }

    void watched(beast::error_code ec, std::size_t n) {
        watching_ = false;
        buffer_.commit(n);
        if (watchStopping_) {
            watchStopping_ = false;
            if (!ec || ec == net::error::operation_aborted)
                return doRead();
            return close();
        }
        if (ec)
            return clientLeft();
        if (buffer_.size() < context_.options.maxHeaderBytes)
            startWatch();
    }

    void clientLeft() {
        clientGone_ = true;
        if (phase_ == Phase::Waiting && ticket_ != 0 && context_.pool.withdraw(ticket_)) {
            abandonWait();
        } else if (auto decode = decode_.lock()) {
            decode->clientGone();
        }
    }

    void abandonWait() {
        queueTimer_.cancel();
        phase_ = Phase::Done;
        active_.reset();
        log_.write("client gone");
    }

    void nextRequest() {
        if (watching_) {
            watchStopping_ = true;
            stream_.tcp().cancel();
            return;
        }
        doRead();
    }

    // An answer that asks the pool, which may open a device that has just arrived to identify
    // it: made on the pool's answer thread, never on one that serves the network.
    void replyFromPool(Reply (*make)(ServerContext&), bool logIt) {
        phase_ = Phase::Replying;
        context_.poolAnswers->post([self = this->shared_from_this(), make, logIt] {
            Reply answer = make(self->context_);
            net::post(self->stream_.get_executor(), [self, answer = std::move(answer), logIt] {
                self->reply(answer, false, logIt);
            });
        });
    }

    void reply(const Reply& answer, bool closeAfter = false, bool logIt = true) {
        phase_ = Phase::Replying;
        active_.reset();
        auto response = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(answer.status), request_.version() ? request_.version() : 11);
        response->set(http::field::content_type, answer.contentType);
        for (const auto& header : answer.headers) response->set(header.first, header.second);
        response->body() = answer.body;
        bool keepAlive =
            !closeAfter && !bodyUnread() && request_.keep_alive() && !context_.draining();
        response->keep_alive(keepAlive);
        response->prepare_payload();
        if (logIt)
            log_.write(std::to_string(answer.status));
        stream_.tcp().expires_after(context_.options.writeTimeout);
        http::async_write(stream_, *response,
                          [self = this->shared_from_this(), response, keepAlive](
                              beast::error_code ec, std::size_t) {
                              if (!ec && self->bodyUnread())
                                  return self->closeUnread();
                              if (ec || !keepAlive || self->clientGone_)
                                  return self->close();
                              self->nextRequest();
                          });
    }

    // The request was answered without its body, or with its body refused.
    bool bodyUnread() const { return parser_ && !parser_->is_done(); }

    void close() {
        phase_ = Phase::Done;
        stream_.shutdown(TLS_CLOSE_GRACE, [self = this->shared_from_this()](beast::error_code) {});
    }

    void closeUnread() {
        phase_ = Phase::Done;
        stream_.shutdown(TLS_CLOSE_GRACE, [self = this->shared_from_this()](beast::error_code) {
            self->discard_ = std::make_unique<char[]>(DISCARD_BYTES);
            self->stream_.tcp().expires_after(UNREAD_BODY_GRACE);
            self->discard();
        });
    }

    void discard() {
        stream_.async_read_some(
            net::buffer(discard_.get(), DISCARD_BYTES),
            [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                if (!ec)
                    self->discard();
            });
    }

    ServerContext& context_;
    Transport stream_;
    beast::flat_buffer buffer_;
    std::unique_ptr<ConnectionLimits::Slot> slot_;
    std::string client_;
    net::steady_timer queueTimer_;

    Phase phase_ = Phase::Reading;
    std::optional<http::request_parser<http::string_body>> parser_;
    // How many fields the request's header holds; what follows them came in its trailer.
    std::size_t headerFields_ = 0;
    http::request<http::string_body> request_;
    RequestLog log_;
    // The token the request was admitted with, checked again when the token list is reloaded.
    std::optional<TokenList::Digest> token_;
    std::unique_ptr<ActiveWork> active_;

    Work work_ = Work::Decode;
    std::string serialNumber_;
    DevicePool::Ticket ticket_ = 0;
    std::chrono::steady_clock::time_point waitStart_;
    bool wav_ = true;
    bool watching_ = false;
    bool watchStopping_ = false;
    bool clientGone_ = false;
    // A header of this connection was authorized: it counts among the authenticated.
    bool authorized_ = false;
    // Closed to make room for a newer unauthenticated connection.
    bool evicted_ = false;
    std::unique_ptr<char[]> discard_;
    uint64_t served_ = 0;
    // The drain began while this connection's request was arriving: it is served, not refused.
    bool admitDuringDrain_ = false;
    // The decode being answered keeps this session alive while it writes to the connection; this
    // only observes it, so that no cycle outlives a server stopped mid-answer.
    std::weak_ptr<DecodeResponse> decode_;
};

}  // namespace

void runHttpSession(ServerContext& context, Transport&& stream, beast::flat_buffer&& buffer,
                    std::unique_ptr<ConnectionLimits::Slot> slot, std::string client) {
    std::make_shared<HttpSession>(context, std::move(stream), std::move(buffer), std::move(slot),
                                  std::move(client))
        ->run();
}
