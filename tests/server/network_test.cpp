// usb3k-server's network side on loopback, in process, over a fake device pool: the routes, a
// streamed decode, bad input, tokens, a WebSocket stream, the queue time-out, a client that
// leaves, and the drain. The clients are Beast's.
#include <gtest/gtest.h>

#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/ssl.hpp>

#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>

#include "server/registry_device_pool.h"
#include "server/server.h"
#include "server/signals.h"
#include "server/wav_header.h"
#include "tests/server/server_test_support.h"
#include "tests/server/temp_folder.h"
#include "tests/server/test_certificate.h"
#include "tests/sim_test_support.h"

namespace {

TEST_F(ServerTest, AnswersHealthReadinessMetricsAndTheDeviceList) {
    start(2);
    Connection client(port_);
    Response health = client.send(http::verb::get, "/healthz", "", "");
    EXPECT_EQ(health.result_int(), 200);
    EXPECT_EQ(health.body(), "alive\n");
    EXPECT_EQ(client.send(http::verb::get, "/readyz", "", "").body(), "ready\n");
    Response metrics = client.send(http::verb::get, "/metrics", "", "");
    EXPECT_EQ(metrics.result_int(), 200);
    EXPECT_NE(metrics.body().find("usb3k_"), std::string::npos);

    Response devices = client.send(http::verb::get, "/v1/devices");
    EXPECT_EQ(devices.result_int(), 200);
    EXPECT_EQ(devices[http::field::content_type], "application/json");
    std::string row = R"({"serialNumber":"FAKE#","description":"USB-3000","usable":true,)"
                      R"("productId":"P1","version":"V1","reason":"","state":"free"})";
    std::string first = row;
    first.replace(first.find('#'), 1, "0");
    std::string second = row;
    second.replace(second.find('#'), 1, "1");
    EXPECT_EQ(devices.body(), "[" + first + "," + second + "]");
    EXPECT_EQ(client.send(http::verb::post, "/v1/devices").result_int(), 405);
    EXPECT_EQ(client.send(http::verb::get, "/v2/devices").result_int(), 404);
}

// The server's threads: the entries of /proc/self/task.
std::ptrdiff_t threadCount() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                         std::filesystem::directory_iterator{});
}

// Health checks and scrapers that all ask at once are answered one after another on the pool's
// one answer thread: however many they are, they add no thread to the server.
TEST_F(ServerTest, AnswersFromThePoolOnOneThreadHoweverManyAskAtOnce) {
    start(1);
    pool_->perListing = std::chrono::milliseconds(20);
    EXPECT_EQ(Connection(port_).send(http::verb::get, "/readyz", "", "").result_int(), 200);
    const std::ptrdiff_t before = threadCount();
    std::vector<std::thread> clients;
    std::atomic<int> answered{0};
    for (int i = 0; i < 30; ++i) {
        clients.emplace_back([this, i, &answered] {
            const char* target = i % 3 == 0 ? "/metrics" : i % 3 == 1 ? "/readyz" : "/v1/devices";
            if (Connection(port_).send(http::verb::get, target).result_int() == 200)
                ++answered;
        });
    }
    for (std::thread& client : clients) client.join();
    EXPECT_EQ(answered.load(), 30);
    EXPECT_EQ(threadCount(), before);
}

// The WAV answer's comment chunk with the concealed count, which its header's sizes count.
std::string wavComment(const std::string& concealed) {
    auto chunk = wavCommentChunk("Usb3k-Frames-Concealed: " + concealed);
    return std::string(chunk.begin(), chunk.end());
}

std::string wavOf(std::size_t frames, const std::string& speech, const std::string& concealed) {
    auto header = wavHeader(frames * 320);
    return std::string(header.begin(), header.end()) + speech + wavComment(concealed);
}

TEST_F(ServerTest, StreamsADecodeWithItsWavHeaderAndTheConcealedCountInItsComment) {
    start();
    pool_->concealAt = {7, 52};
    std::string vcw = frames(60);
    Connection client(port_);
    testing::internal::CaptureStderr();
    Response wav = client.send(http::verb::post, "/v1/decode", vcw);
    // The same connection, the device by name, raw samples; its lease counts from 0 again. The
    // server reads it once the first request's line is written.
    Response pcm = client.send(http::verb::post, "/v1/decode?device=FAKE0&format=pcm", vcw);
    std::string log = testing::internal::GetCapturedStderr();
    ASSERT_EQ(wav.result_int(), 200);
    EXPECT_EQ(wav[http::field::content_type], "audio/wav");
    EXPECT_TRUE(wav.chunked());
    EXPECT_EQ(wav.body(), wavOf(60, speechFor(vcw, {7, 52}), "2"));
    EXPECT_NE(log.find(" token=alice POST /v1/decode device=FAKE0 frames=60 concealed=2 "),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find(TOKEN), std::string::npos);
    ASSERT_EQ(pcm.result_int(), 200);
    EXPECT_EQ(pcm[http::field::content_type], "application/octet-stream");
    EXPECT_EQ(pcm.body(), speechFor(vcw, {7, 52}));
}

// What the raw answer to a POST says: its header's Trailer field, how its bytes end, whether
// Beast's parser found it whole, and its body.
struct RawAnswer {
    std::string head;
    std::string bytes;
    beast::error_code ec;
    std::string body;
};

// Sends `request` and reads until the server closes the connection (bounded by a time-out).
RawAnswer rawPost(uint16_t port, const std::string& request) {
    RawAnswer answer;
    bool closed = false;
    answer.bytes = rawUntilClose(port, request, closed);
    EXPECT_TRUE(closed);
    http::response_parser<http::string_body> parser;
    parser.eager(true);
    parser.body_limit(boost::none);
    std::size_t at = 0;
    for (int i = 0; i < 100000 && !parser.is_done() && !answer.ec; ++i) {
        at +=
            parser.put(net::buffer(answer.bytes.data() + at, answer.bytes.size() - at), answer.ec);
    }
    // The bytes end inside the answer: the end of the connection says how it ended.
    if (answer.ec == http::error::need_more) {
        answer.ec = {};
        parser.put_eof(answer.ec);
    }
    answer.head = answer.bytes.substr(0, answer.bytes.find("\r\n\r\n"));
    answer.body = parser.get().body();
    return answer;
}

TEST_F(ServerTest, EndsADecodeWithTrailerFieldsOnlyWhenAskedAndCutShortWithoutItsLastChunk) {
    start();
    std::string vcw = frames(60);
    std::string speech = speechFor(vcw, {52});
    std::string cut = speechFor(vcw.substr(0, 30 * 7), {});
    const std::string trailer = "0\r\nUsb3k-Frames-Concealed: 1\r\n\r\n";
    const std::string comment = "44\r\n" + wavComment("1") + "\r\n";
    struct Case {
        const char* name;
        std::string target;
        std::string te;  // the TE header's value; none when empty
        uint64_t goneAt;
        std::string ending;  // the answer's last bytes
        std::string body;
        bool whole;
    } cases[] = {
        {"wav", "/v1/decode", "", UINT64_MAX, comment + "0\r\n\r\n", wavOf(60, speech, "1"), true},
        {"pcm", "/v1/decode?format=pcm", "", UINT64_MAX, "\r\n0\r\n\r\n", speech, true},
        {"pcm, TE: trailers", "/v1/decode?format=pcm", "trailers", UINT64_MAX, "\r\n" + trailer,
         speech, true},
        {"wav, TE with weights", "/v1/decode", "gzip;q=0.5, TRAILERS", UINT64_MAX,
         comment + trailer, wavOf(60, speech, "1"), true},
        {"cut short", "/v1/decode?format=pcm", "trailers", 30,
         "640\r\n" + cut.substr(cut.size() - 5 * 320) + "\r\n", cut, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        pool_->concealAt = {52};
        pool_->goneAt = c.goneAt;
        std::string request = postHead(c.target, vcw.size());
        if (!c.te.empty())
            request.insert(request.size() - 2, "TE: " + c.te + "\r\n");
        request.insert(request.size() - 2, "Connection: close\r\n");
        testing::internal::CaptureStderr();
        RawAnswer answer = rawPost(port_, request + vcw);
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_EQ(answer.head.find("Trailer: Usb3k-Frames-Concealed") != std::string::npos,
                  !c.te.empty())
            << answer.head;
        ASSERT_GE(answer.bytes.size(), c.ending.size());
        EXPECT_EQ(answer.bytes.substr(answer.bytes.size() - c.ending.size()), c.ending);
        EXPECT_EQ(answer.ec, c.whole ? beast::error_code() : http::error::partial_message);
        EXPECT_EQ(answer.body, c.body);
        std::string outcome =
            c.whole ? "outcome=200\n" : "outcome=200 device gone: the device was unplugged\n";
        EXPECT_NE(log.find(outcome), std::string::npos) << log;
    }
    EXPECT_NE(Connection(port_)
                  .send(http::verb::get, "/metrics", "", "")
                  .body()
                  .find("usb3k_decodes_cut_short_total{reason=\"device_gone\"} 1\n"),
              std::string::npos);
}

TEST_F(ServerTest, RefusesBadInputWithItsReason) {
    options_.maxBodyBytes = 70;
    start();
    Connection client(port_);
    Response partial = client.send(http::verb::post, "/v1/decode", frames(2) + "abc");
    EXPECT_EQ(partial.result_int(), 400);
    EXPECT_EQ(partial.body(), "the body is 17 bytes, not a whole number of 7-byte VCW frames\n");
    EXPECT_EQ(client.send(http::verb::post, "/v1/decode", "").body(), "the body holds no frame\n");
    Response format = client.send(http::verb::post, "/v1/decode?format=mp3", frames(1));
    EXPECT_EQ(format.result_int(), 400);
    EXPECT_EQ(format.body(), "the parameter format is wav or pcm\n");
    EXPECT_EQ(client.send(http::verb::post, "/v1/decode?speed=2", frames(1)).body(),
              "unknown query parameter: speed\n");
    Response unknown = client.send(http::verb::post, "/v1/decode?device=NOPE", frames(1));
    EXPECT_EQ(unknown.result_int(), 404);
    EXPECT_EQ(unknown.body(), "no USB-3000 with serial number NOPE is attached\n");
    Response large = Connection(port_).send(http::verb::post, "/v1/decode", frames(11));
    EXPECT_EQ(large.result_int(), 413);
    EXPECT_EQ(large.body(), "the body is larger than 70 bytes\n");
    EXPECT_EQ(pool_->framesDecoded, 0u);
}

TEST_F(ServerTest, DecodesNothingWithoutAValidToken) {
    start();
    for (const std::string& token : {std::string(), std::string("secret-of-eve")}) {
        Connection client(port_);
        Response refused = client.send(http::verb::post, "/v1/decode", frames(3), token);
        EXPECT_EQ(refused.result_int(), 401);
        EXPECT_EQ(refused[http::field::www_authenticate], "Bearer");
        // Its body was never read: the connection closes after the answer.
        EXPECT_FALSE(refused.keep_alive());
        Connection again(port_);
        Response listing = again.send(http::verb::get, "/v1/devices", "", token);
        EXPECT_EQ(listing.result_int(), 401);
        EXPECT_TRUE(listing.keep_alive())
            << "a refused request without a body keeps its connection";
        EXPECT_THROW(Stream(port_, token), beast::system_error);
    }
    EXPECT_EQ(pool_->framesDecoded, 0u);
}

TEST_F(ServerTest, StreamsOverAWebSocketInOrderWithEventsAndClosesOnBadInput) {
    start();
    pool_->concealAt = {7};
    std::string one = frames(5);
    std::string two = frames(10);
    Stream stream(port_);
    stream.send(one);
    stream.send(two);
    stream.send(one);
    bool text = false;
    EXPECT_EQ(stream.read(text), speechFor(one, {}));
    EXPECT_FALSE(text);
    EXPECT_EQ(stream.read(text), R"({"event":"concealed","frame":7,"lines":["frame 7 lost"]})");
    EXPECT_TRUE(text);
    EXPECT_EQ(stream.read(text), speechFor(two, {7}, 5));
    EXPECT_EQ(stream.read(text), speechFor(one, {}, 15));
    EXPECT_FALSE(text);

    stream.send(frames(1) + "xyz");
    websocket::close_reason reason = stream.readClose();
    EXPECT_EQ(reason.code, 1007);
    EXPECT_EQ(reason.reason, "the message is 10 bytes, not a whole number of 7-byte VCW frames");
    EXPECT_TRUE(freeWithin(std::chrono::seconds(1)));

    Stream textual(port_);
    textual.sendText("{}");
    reason = textual.readClose();
    EXPECT_EQ(reason.code, 1003);
    EXPECT_EQ(reason.reason, "only binary messages of VCW frames are read");
    Stream large(port_);
    large.send(frames(251));
    EXPECT_EQ(large.readClose(false).code, 1009);
}

TEST_F(ServerTest, ClosesAStreamWhoseDeviceIsGoneAndFreesTheDeviceOfAClientThatLeaves) {
    start();
    pool_->goneAt = 12;
    {
        Stream stream(port_);
        stream.send(frames(10));
        stream.send(frames(10));
        bool text = false;
        EXPECT_EQ(stream.read(text).size(), 10u * 320);
        EXPECT_EQ(stream.read(text).size(), 2u * 320);
        websocket::close_reason reason = stream.readClose();
        EXPECT_EQ(reason.code, 4001);
        EXPECT_EQ(reason.reason, "device gone: the device was unplugged");
    }
    pool_->goneAt = UINT64_MAX;
    pool_->perFrame = std::chrono::milliseconds(20);
    Stream stream(port_);
    stream.send(frames(250));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(pool_->devices()[0].state, DeviceState::Busy);
    stream.socket().close();
    EXPECT_TRUE(freeWithin(std::chrono::seconds(1)));
    EXPECT_LT(pool_->framesDecoded, 12u + 250u);

    // With every message it may have in flight sent, the server reads no more of its socket: it
    // notices the client leave all the same, long before the message being decoded would end.
    Stream full(port_);
    for (std::size_t i = 0; i < options_.maxInFlight; ++i) full.send(frames(250));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(pool_->devices()[0].state, DeviceState::Busy);
    const uint64_t before = pool_->framesDecoded;
    full.socket().close();
    EXPECT_TRUE(freeWithin(std::chrono::seconds(1)));
    EXPECT_LT(pool_->framesDecoded - before, 250u);
}

TEST_F(ServerTest, AnswersAWaitBeyondTheQueueTimeOutWith503AndClosesAnIdleStream) {
    options_.queueTimeout = std::chrono::seconds(1);
    options_.idleTimeout = std::chrono::seconds(2);
    start();
    Stream holder(port_);  // holds the one device while it is open
    Connection client(port_);
    auto begin = std::chrono::steady_clock::now();
    Response busy = client.send(http::verb::post, "/v1/decode", frames(1));
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(900));
    EXPECT_EQ(busy.result_int(), 503);
    EXPECT_EQ(busy[http::field::retry_after], "1");
    EXPECT_EQ(busy.body(), "no USB-3000 was free within 1 s\n");
    EXPECT_EQ(pool_->queueLength(), 0u);

    websocket::close_reason reason = holder.readClose();
    EXPECT_EQ(reason.code, 1008);
    EXPECT_EQ(reason.reason, "idle time-out: no frames for 2 s");
    EXPECT_TRUE(freeWithin(std::chrono::seconds(1)));
}

TEST_F(ServerTest, LimitsConnectionsInAllAndPerToken) {
    options_.maxConnections = 2;
    options_.maxConnectionsPerToken = 1;
    start();
    Stream holder(port_);
    auto other = std::make_unique<Connection>(port_);
    EXPECT_EQ(other->send(http::verb::get, "/v1/devices", "", "secret-of-bob").result_int(), 200);
    // Both authenticated connections are in use: a third token holder is refused, probes are not.
    Response full = Connection(port_).send(http::verb::get, "/v1/devices", "", "secret-of-bob");
    EXPECT_EQ(full.result_int(), 503);
    EXPECT_EQ(full.body(), "the server's 2 connections are all in use\n");
    EXPECT_EQ(Connection(port_).send(http::verb::get, "/healthz", "", "").result_int(), 200);
    other.reset();
    // Bounded, until the server has seen the other connection close.
    Response refused;
    for (int i = 0; i < 100 && refused.result_int() != 429; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        try {
            refused = Connection(port_).send(http::verb::get, "/v1/devices");
        } catch (const beast::system_error&) {
        }
    }
    EXPECT_EQ(refused.result_int(), 429);
    EXPECT_EQ(refused.body(), "this token's connections are at their limit (1)\n");
}

TEST_F(ServerTest, ReloadsTheTokenFileOnSighupSoThatATokenIsRevoked) {
    TempFolder folder;
    std::string path = folder.write("tokens", "alice:" + TOKEN + "\n");
    pool_ = std::make_unique<FakeDevicePool>(1);
    ServerOptions options;
    options.tokenFile = path;
    std::string error;
    std::shared_ptr<const TokenList> tokens = TokenList::load(path, error);
    ASSERT_TRUE(tokens) << error;
    Server server(options, *pool_, metrics_, tokens);
    net::io_context io;
    tcp::acceptor socket(io, loopback(0));
    ASSERT_TRUE(server.open({socket.release()}, error)) << error;
    server.start(1);
    Signals signals(server);

    EXPECT_EQ(Connection(server.port()).send(http::verb::get, "/v1/devices").result_int(), 200);
    folder.write("tokens", "# alice is gone\nbob:secret-of-bob\n");
    std::raise(SIGHUP);
    // The signal is handled on the signals' own thread: bounded, until alice is refused.
    unsigned status = 200;
    for (int i = 0; i < 100 && status == 200; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        status = Connection(server.port()).send(http::verb::get, "/v1/devices").result_int();
    }
    EXPECT_EQ(status, 401u);
    EXPECT_EQ(Connection(server.port())
                  .send(http::verb::get, "/v1/devices", "", "secret-of-bob")
                  .result_int(),
              200);
}

TEST_F(ServerTest, EndsTheStreamsAndDecodesOfATokenRevokedByAReloadAtOnce) {
    start(3);
    pool_->perFrame = std::chrono::milliseconds(20);
    testing::internal::CaptureStderr();
    Stream alice(port_);
    Stream bob(port_, "secret-of-bob");
    bool text = false;
    for (Stream* stream : {&alice, &bob}) {
        stream->send(frames(2));
        EXPECT_EQ(stream->read(text).size(), 2u * 320);
        // Bounded: a stream that is never closed fails the read after 10 s.
        timeval limit{10, 0};
        setsockopt(stream->socket().native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    std::string vcw = frames(250);
    RawAnswer decode;
    std::thread post(
        [&] { decode = rawPost(port_, postHead("/v1/decode?format=pcm", vcw.size()) + vcw); });
    // Bounded, until alice's decode is on its device.
    for (int i = 0; i < 500 && pool_->framesDecoded < 5; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    server_->context().setTokens(
        std::make_shared<TokenList>(std::vector<TokenList::Token>{{"bob", "secret-of-bob"}}));
    EXPECT_EQ(alice.read(text), R"({"event":"revoked","serial":"FAKE0","frame":2})");
    EXPECT_TRUE(text);
    websocket::close_reason reason = alice.readClose();
    EXPECT_EQ(reason.code, 4003);
    EXPECT_EQ(reason.reason, "token revoked");
    post.join();
    EXPECT_EQ(decode.ec, http::error::partial_message);
    EXPECT_LT(decode.body.size(), 250u * 320);
    bob.send(frames(1));
    EXPECT_EQ(bob.read(text).size(), 320u);
    bob.close();
    std::string metrics = Connection(port_).send(http::verb::get, "/metrics", "", "").body();
    EXPECT_NE(metrics.find("usb3k_decodes_cut_short_total{reason=\"token_revoked\"} 1\n"),
              std::string::npos);
    server_.reset();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find(" token=alice stream device=FAKE0 frames=2 concealed=0 "), std::string::npos)
        << log;
    EXPECT_NE(log.find("s outcome=4003 token revoked\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" token=alice POST /v1/decode device=FAKE2 "), std::string::npos) << log;
    EXPECT_NE(log.find("s outcome=200 token revoked\n"), std::string::npos) << log;
}

TEST_F(ServerTest, DrainsFinishingWorkInProgressAndRefusingNewWork) {
    // A drain time-out well past the decode's 0.3 s, even on a busy machine.
    options_.drainTimeout = std::chrono::seconds(3);
    start(2);
    pool_->perFrame = std::chrono::milliseconds(2);
    Stream stream(port_);
    std::string vcw = frames(150);
    Connection decoding(port_);
    Response finished;
    std::thread post([&] { finished = decoding.send(http::verb::post, "/v1/decode", vcw); });
    // A decode whose body is still arriving.
    Connection uploading(port_);
    std::string body = frames(20);
    net::write(uploading.stream(),
               net::buffer(postHead("/v1/decode?format=pcm", body.size()) + body.substr(0, 70)));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    server_->drain();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));

    net::write(uploading.stream(), net::buffer(body.substr(70)));
    beast::flat_buffer buffer;
    Response uploaded;
    beast::error_code ec;
    http::read(uploading.stream(), buffer, uploaded, ec);
    EXPECT_EQ(uploaded.result_int(), 200) << ec.message() << uploaded.body();
    EXPECT_EQ(uploaded.body().size(), 20u * 320);

    Connection late(port_);
    EXPECT_EQ(late.send(http::verb::get, "/readyz", "", "").result_int(), 503);
    Connection later(port_);
    Response refused = later.send(http::verb::post, "/v1/decode", frames(1));
    EXPECT_EQ(refused.result_int(), 503);
    EXPECT_EQ(refused.body(), "server draining\n");

    // The stream goes on until the drain time-out, then closes with the reason.
    stream.send(frames(2));
    bool text = false;
    EXPECT_EQ(stream.read(text).size(), 2u * 320);
    websocket::close_reason reason = stream.readClose();
    EXPECT_EQ(reason.code, 1001);
    EXPECT_EQ(reason.reason, "server draining");

    post.join();
    EXPECT_EQ(finished.result_int(), 200);
    EXPECT_EQ(finished.body().size(), 44u + 150 * 320 + WAV_COMMENT_CHUNK_SIZE);
    server_->wait();
}

TEST_F(ServerTest, ServesTlsWithACertificateTheClientVerifiesAndRefusesPlainHttpThere) {
    TempFolder folder;
    options_.tlsCert = folder.write("server.crt", "");
    options_.tlsKey = folder.write("server.key", "");
    makeCertificate(options_.tlsCert, options_.tlsKey);
    start();
    Response plain = Connection(port_).send(http::verb::get, "/healthz", "", "");
    EXPECT_EQ(plain.result_int(), 400);
    EXPECT_EQ(plain.body(), "this port speaks HTTPS (TLS) only: use https://\n");

    net::io_context io;
    net::ssl::context trust(net::ssl::context::tls_client);
    trust.load_verify_file(options_.tlsCert);
    trust.set_verify_mode(net::ssl::verify_peer);
    beast::ssl_stream<beast::tcp_stream> tls(io, trust);
    tls.set_verify_callback(net::ssl::host_name_verification("usb3k-test"));
    beast::get_lowest_layer(tls).connect(loopback(port_));
    tls.handshake(net::ssl::stream_base::client);
    beast::flat_buffer buffer;
    std::string vcw = frames(30);
    // Two requests on one connection: the decode's watch for a client that leaves ends cleanly.
    for (int i = 0; i < 2; ++i) {
        Response pcm = exchange(tls, buffer, http::verb::post, "/v1/decode?format=pcm", vcw, TOKEN);
        EXPECT_EQ(pcm.result_int(), 200);
        EXPECT_EQ(pcm.body(), speechFor(vcw, {}));
    }
}

// TLS 1.2 with a client that offers `offered`: the suite the server chose, or "" when the
// handshake failed.
std::string tls12SuiteChosen(uint16_t port, const char* offered) {
    net::io_context io;
    net::ssl::context client(net::ssl::context::tls_client);
    SSL_CTX_set_max_proto_version(client.native_handle(), TLS1_2_VERSION);
    EXPECT_EQ(SSL_CTX_set_cipher_list(client.native_handle(), offered), 1) << offered;
    beast::ssl_stream<beast::tcp_stream> tls(io, client);
    beast::get_lowest_layer(tls).connect(loopback(port));
    beast::get_lowest_layer(tls).expires_after(std::chrono::seconds(10));
    beast::error_code ec;
    tls.handshake(net::ssl::stream_base::client, ec);
    return ec ? "" : SSL_CIPHER_get_name(SSL_get_current_cipher(tls.native_handle()));
}

double failedHandshakes(const ServerMetrics& metrics) {
    std::string text = metrics.render({}, 0);
    std::string name = "\nusb3k_tls_handshakes_failed_total ";
    std::size_t at = text.find(name);
    return at == std::string::npos ? -1 : std::stod(text.substr(at + name.size()));
}

// TLS 1.2 only over forward-secret AEAD suites, the server's order preferred, for an ECDSA and an
// RSA certificate; each failed handshake counted, and logged at most once a second with a count of
// those left out.
TEST_F(ServerTest, SpeaksTls12OverForwardSecretAeadSuitesAndLogsFailedHandshakesSparingly) {
    struct Row {
        const char* offered;
        const char* chosen;  // "": refused
    };
    const std::vector<std::pair<std::string, std::vector<Row>>> keys{
        {"ec -pkeyopt ec_paramgen_curve:P-256",
         {{"ECDHE-ECDSA-AES128-GCM-SHA256", "ECDHE-ECDSA-AES128-GCM-SHA256"},
          {"ECDHE-ECDSA-CHACHA20-POLY1305", "ECDHE-ECDSA-CHACHA20-POLY1305"},
          {"ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-ECDSA-AES256-GCM-SHA384",
           "ECDHE-ECDSA-AES256-GCM-SHA384"},
          {"ECDHE-ECDSA-AES128-SHA:ECDHE-ECDSA-AES256-SHA384", ""}}},
        {"rsa:2048",
         {{"ECDHE-RSA-AES256-GCM-SHA384", "ECDHE-RSA-AES256-GCM-SHA384"},
          {"AES128-GCM-SHA256:AES256-SHA", ""},
          {"ECDHE-RSA-AES128-SHA256", ""}}}};
    TempFolder folder;
    options_.tlsCert = folder.file("server.crt");
    options_.tlsKey = folder.file("server.key");
    testing::internal::CaptureStderr();
    auto begin = std::chrono::steady_clock::now();
    int failed = 0;
    for (const auto& [key, rows] : keys) {
        server_.reset();
        makeCertificate(options_.tlsCert, options_.tlsKey, "", key);
        start();
        for (const Row& row : rows) {
            EXPECT_EQ(tls12SuiteChosen(port_, row.offered), row.chosen) << row.offered;
            failed += *row.chosen == '\0';
        }
    }
    for (int i = 0; i < 20; ++i, ++failed) tls12SuiteChosen(port_, "AES256-SHA");
    // Past the second, one more: its line comes after the count of those left out before it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    tls12SuiteChosen(port_, "AES256-SHA");
    ++failed;
    for (int i = 0; i < 500 && failedHandshakes(metrics_) < failed; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    server_.reset();
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(failedHandshakes(metrics_), failed);

    std::istringstream lines(log);
    std::string line;
    std::regex failure(R"(usb3k-server: 127\.0\.0\.1:\d+ TLS handshake failed: .+)");
    std::regex more(R"(usb3k-server: (\d+) more TLS handshakes? failed)");
    int written = 0;
    int told = 0;
    for (std::smatch match; std::getline(lines, line);) {
        if (std::regex_match(line, failure))
            ++written;
        else if (std::regex_match(line, match, more))
            told += std::stoi(match[1]);
    }
    EXPECT_EQ(written + told, failed) << log;
    // One line a second from each of the two servers.
    EXPECT_LE(written, 2 + seconds) << log;
}

class EndToEndTest : public SimTest {};

// The real server and device pool over the emulator: the sample decoded as the device decodes it.
TEST_F(EndToEndTest, DecodesTheSampleAsTheEmulatedDeviceDoes) {
    std::ifstream file(USB3K_SAMPLE_VCW, std::ios::binary);
    std::vector<uint8_t> vcw((std::istreambuf_iterator<char>(file)), {});
    ASSERT_EQ(vcw.size(), 500u * 7);
    ServerOptions options;
    RegistryDevicePool pool(options);
    ServerMetrics metrics;
    Server server(options, pool, metrics, nullptr);
    net::io_context io;
    tcp::acceptor socket(io, loopback(0));
    std::string error;
    ASSERT_TRUE(server.open({socket.release()}, error)) << error;
    server.start(2);

    Connection client(server.port());
    Response wav =
        client.send(http::verb::post, "/v1/decode", std::string(vcw.begin(), vcw.end()), "");
    ASSERT_EQ(wav.result_int(), 200);
    std::vector<uint8_t> expected = wavHeader(500 * 320);
    std::vector<uint8_t> speech = speechForFrames(vcw);
    // The device sends each sample high byte first; the answer is little-endian.
    for (std::size_t i = 0; i + 1 < speech.size(); i += 2) std::swap(speech[i], speech[i + 1]);
    expected.insert(expected.end(), speech.begin(), speech.end());
    std::vector<uint8_t> comment = wavCommentChunk("Usb3k-Frames-Concealed: 0");
    expected.insert(expected.end(), comment.begin(), comment.end());
    ASSERT_EQ(wav.body().size(), expected.size());
    for (std::size_t frame = 0; frame < 500; ++frame) {
        std::size_t at = WAV_HEADER_SIZE + frame * 320;
        ASSERT_EQ(wav.body().compare(
                      at, 320, std::string(expected.begin() + at, expected.begin() + at + 320)),
                  0)
            << "frame " << frame;
    }
    EXPECT_EQ(wav.body().compare(0, WAV_HEADER_SIZE,
                                 std::string(expected.begin(), expected.begin() + WAV_HEADER_SIZE)),
              0);
    EXPECT_EQ(wav.body().substr(wav.body().size() - comment.size()),
              std::string(comment.begin(), comment.end()));
}

}  // namespace
