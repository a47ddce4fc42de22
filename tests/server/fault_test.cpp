// usb3k-server's faults on loopback: clients that leave, stop reading, abandon connections or send
// their headers a byte at a time; the program itself stopped by SIGTERM and killed by SIGKILL; a
// device unplugged mid-stream; and bad input and access over the emulator, which shows that the
// unauthenticated reach no device.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <regex>
#include <sstream>

#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include "server/registry_device_pool.h"
#include "tests/server/server_test_support.h"
#include "tests/server/temp_folder.h"
#include "tests/sim_test_support.h"

extern char** environ;

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

// The value of an unlabelled sample in the /metrics text.
double metric(const std::string& text, const std::string& name) {
    std::size_t at = text.find("\n" + name + " ");
    if (at == std::string::npos)
        return -1;
    return std::stod(text.substr(at + name.size() + 2));
}

// Polls `done` every 10 ms until it holds or `limit` has passed.
template <class Condition>
bool within(Clock::duration limit, Condition done) {
    auto end = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(milliseconds(10));
    }
    return true;
}

// True once the peer has ended the connection (EOF or reset), without waiting.
bool endedByPeer(tcp::socket& socket) {
    char byte;
    ssize_t got = ::recv(socket.native_handle(), &byte, 1, MSG_DONTWAIT | MSG_PEEK);
    return got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

TEST_F(ServerTest, FreesTheDeviceOfAPostWhoseClientLeavesMidStream) {
    start();
    pool_->perFrame = milliseconds(20);
    Connection client(port_);
    http::request<http::string_body> request(http::verb::post, "/v1/decode", 11);
    request.set(http::field::host, "localhost");
    request.set(http::field::authorization, "Bearer " + TOKEN);
    request.body() = frames(250);
    request.prepare_payload();
    http::write(client.stream(), request);
    http::response_parser<http::string_body> parser;
    beast::flat_buffer buffer;
    http::read_header(client.stream(), buffer, parser);
    EXPECT_EQ(parser.get().result_int(), 200);
    ASSERT_EQ(pool_->devices()[0].state, DeviceState::Busy);
    client.stream().socket().close();
    EXPECT_TRUE(freeWithin(seconds(1)));
    EXPECT_LT(pool_->framesDecoded, 250u);
}

TEST_F(ServerTest, AServerStoppedMidDecodeLetsGoOfItsDevice) {
    start();
    pool_->perFrame = milliseconds(20);
    Connection client(port_);
    std::string body = frames(250);
    net::write(client.stream(), net::buffer(postHead("/v1/decode", body.size()) + body));
    http::response_parser<http::string_body> parser;
    beast::flat_buffer buffer;
    http::read_header(client.stream(), buffer, parser);
    ASSERT_EQ(pool_->devices()[0].state, DeviceState::Busy);
    server_.reset();
    EXPECT_EQ(pool_->devices()[0].state, DeviceState::Free);
}

TEST_F(ServerTest, StopsReadingAClientThatReadsNothingAtTheInFlightLimit) {
    options_.writeTimeout = seconds(30);
    start();
    // The client's socket buffers small, so that the speech and the frames wait in the server.
    Stream stream(port_, TOKEN, "/v1/stream", 4096);
    tcp::socket& socket = stream.socket();
    // 400 messages of 250 frames, 100,000 frames: far more speech than any socket buffer holds.
    std::string message = frames(250);
    std::atomic<int> sent{0};
    std::thread writer([&] {
        for (int i = 0; i < 400 && stream.trySend(message); ++i) ++sent;
    });
    // Until decoding has stopped for half a second (bounded: 10 s).
    uint64_t decoded = 0;
    auto stalled = Clock::now();
    within(seconds(10), [&] {
        if (pool_->framesDecoded != decoded) {
            decoded = pool_->framesDecoded;
            stalled = Clock::now();
        }
        return Clock::now() - stalled > milliseconds(500);
    });
    std::string text = Connection(port_).send(http::verb::get, "/metrics", "", "").body();
    EXPECT_LT(decoded, 100000u);
    EXPECT_LT(sent.load(), 400);
    // What the stream holds: the in-flight limit's messages, each 1,750 bytes of frames and
    // 80,000 of speech.
    double messages = metric(text, "usb3k_stream_messages_held");
    EXPECT_GE(messages, 1);
    EXPECT_LE(messages, static_cast<double>(options_.maxInFlight));
    EXPECT_LE(metric(text, "usb3k_stream_bytes_held"), options_.maxInFlight * (1750.0 + 80000));
    EXPECT_EQ(pool_->devices()[0].state, DeviceState::Busy);

    beast::error_code ignored;
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    writer.join();
    socket.close(ignored);
    EXPECT_TRUE(freeWithin(seconds(1)));
    EXPECT_TRUE(within(seconds(1), [&] {
        std::string now = Connection(port_).send(http::verb::get, "/metrics", "", "").body();
        return metric(now, "usb3k_stream_bytes_held") == 0 &&
               metric(now, "usb3k_stream_messages_held") == 0;
    }));
}

TEST_F(ServerTest, ServesOthersThroughAThousandAbandonedConnectionsAndASlowHeader) {
    options_.headerTimeout = seconds(2);
    start();
    std::string vcw = frames(20);
    auto decodes = [&] {
        Response answer = Connection(port_).send(http::verb::post, "/v1/decode?format=pcm", vcw);
        return answer.result_int() == 200 && answer.body() == speechFor(vcw, {});
    };
    // Ten batches of 100: each held open, sending nothing, while another client decodes; then
    // closed, but for the last batch, which the server drops after its read time-out.
    net::io_context io;
    std::vector<tcp::socket> batch;
    for (int round = 0; round < 10; ++round) {
        batch.clear();
        for (int i = 0; i < 100; ++i) {
            batch.emplace_back(io);
            batch.back().connect(loopback(port_));
        }
        EXPECT_TRUE(decodes()) << "round " << round;
    }
    auto dropped = Clock::now();
    EXPECT_TRUE(within(seconds(4), [&] { return server_->context().limits.open() == 0; }));
    EXPECT_GE(Clock::now() - dropped, milliseconds(1500));
    for (tcp::socket& socket : batch) EXPECT_TRUE(endedByPeer(socket));

    // Headers a byte a second: the others are served meanwhile, and the slow client is dropped at
    // the header time-out (bounded: 6 bytes).
    tcp::socket slow(io);
    slow.connect(loopback(port_));
    auto begin = Clock::now();
    std::future<bool> served = std::async(std::launch::async, decodes);
    std::string header = "GET /healthz HTTP/1.1\r\n";
    std::size_t sentBytes = 0;
    for (; sentBytes < 6 && !endedByPeer(slow); ++sentBytes) {
        beast::error_code ec;
        net::write(slow, net::buffer(header.data() + sentBytes, 1), ec);
        std::this_thread::sleep_for(seconds(1));
    }
    EXPECT_TRUE(served.get());
    EXPECT_TRUE(endedByPeer(slow));
    EXPECT_LE(sentBytes, 4u);
    EXPECT_LT(Clock::now() - begin, seconds(5));
}

// A connection to the server from the loopback address `from` (127.0.0.2, ...), which the server
// counts as a client address of its own.
tcp::socket connectFrom(net::io_context& io, const std::string& from, uint16_t port) {
    tcp::socket socket(io);
    socket.open(tcp::v4());
    socket.bind(tcp::endpoint(net::ip::make_address(from), 0));
    socket.connect(loopback(port));
    return socket;
}

TEST_F(ServerTest, ClientsWithoutATokenLockNoOneOutAndHaveNoBodyRead) {
    // A thousand client sockets and the server's own, in this one process.
    rlimit files{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    start();
    testing::internal::CaptureStderr();
    // 500 idle connections from each of two addresses: each address keeps its newest 32
    // (max-connections-per-address), 64 in all (max-unauthenticated); the oldest are closed.
    net::io_context io;
    std::vector<tcp::socket> idle[2];
    for (int address = 0; address < 2; ++address) {
        for (int i = 0; i < 500; ++i)
            idle[address].push_back(connectFrom(io, address ? "127.0.0.3" : "127.0.0.2", port_));
    }
    for (auto& sockets : idle) {
        EXPECT_TRUE(within(seconds(10), [&] {
            return std::all_of(sockets.begin(), sockets.end() - 32, endedByPeer);
        }));
        EXPECT_EQ(std::count_if(sockets.end() - 32, sockets.end(), endedByPeer), 0);
    }
    // Each one closed is counted, and the log tells of them at most once a second.
    auto evicted = [this] {
        std::string text = Connection(port_).send(http::verb::get, "/metrics", "", "").body();
        std::smatch count;
        std::regex_search(text, count, std::regex("\nusb3k_connections_evicted_total (\\d+)\n"));
        return count.empty() ? 0 : std::stoi(count[1]);
    };
    EXPECT_TRUE(within(seconds(10), [&] { return evicted() >= 936; }));
    EXPECT_LE(evicted(), 940);
    std::string log = testing::internal::GetCapturedStderr();
    std::size_t lines = 0;
    for (std::size_t at = log.find("closed to make room"); at != std::string::npos;
         at = log.find("closed to make room", at + 1))
        ++lines;
    EXPECT_GE(lines, 1u);
    EXPECT_LT(lines, 30u) << log;

    // Bodies of 8 MiB without a token: refused from their header, before the body has arrived.
    const std::string head = "POST /v1/decode HTTP/1.1\r\nHost: localhost\r\nContent-Length: " +
                             std::to_string(8 << 20) + "\r\n\r\n";
    const std::string part(64 * 1024, '\0');
    std::vector<tcp::socket> uploads;
    for (int i = 0; i < 3; ++i) {
        uploads.push_back(connectFrom(io, "127.0.0.1", port_));
        net::write(uploads.back(), net::buffer(head));
        net::write(uploads.back(), net::buffer(part));
        // A server that waits for the body answers nothing within this.
        timeval limit{10, 0};
        setsockopt(uploads.back().native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }

    // Meanwhile a token holder decodes and a probe is answered.
    std::string vcw = frames(20);
    Response decoded = Connection(port_).send(http::verb::post, "/v1/decode?format=pcm", vcw);
    EXPECT_EQ(decoded.result_int(), 200);
    EXPECT_EQ(decoded.body(), speechFor(vcw, {}));
    EXPECT_EQ(Connection(port_).send(http::verb::get, "/healthz", "", "").result_int(), 200);

    for (tcp::socket& upload : uploads) {
        beast::flat_buffer buffer;
        http::response_parser<http::string_body> answer;
        beast::error_code ec;
        http::read(upload, buffer, answer, ec);
        ASSERT_FALSE(ec) << ec.message();
        EXPECT_EQ(answer.get().result_int(), 401);
        EXPECT_EQ(answer.get()[http::field::www_authenticate], "Bearer");
        EXPECT_FALSE(answer.get().keep_alive());
    }
}

// The built usb3k-server with the D2XX library of `libraryFolder` (the emulator's), on a free
// loopback port, with a token file; its standard error in a file.
class ServerProcess {
  public:
    // `openFiles`: the process's limit of file descriptors, when not 0.
    explicit ServerProcess(const std::vector<std::string>& extra = {},
                           const std::string& libraryFolder = USB3K_SIM_LIBRARY_DIR,
                           rlim_t openFiles = 0) {
        {
            net::io_context io;
            tcp::acceptor probe(io, loopback(0));
            port = probe.local_endpoint().port();
        }
        std::vector<std::string> args{USB3K_SERVER_BINARY, "--listen",
                                      "127.0.0.1:" + std::to_string(port), "--token-file",
                                      folder_.write("tokens", "alice:" + TOKEN + "\n")};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::vector<std::string> env{"LD_LIBRARY_PATH=" + libraryFolder};
        for (char** at = environ; *at != nullptr; ++at) {
            if (std::strncmp(*at, "LD_LIBRARY_PATH=", 16) != 0)
                env.emplace_back(*at);
        }
        std::vector<char*> envp;
        for (std::string& entry : env) envp.push_back(entry.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, folder_.file("stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        rlimit files{openFiles, openFiles};
        if (pid_ > 0 && openFiles != 0 && prlimit(pid_, RLIMIT_NOFILE, &files, nullptr) != 0)
            ADD_FAILURE() << "prlimit: " << std::strerror(errno);
    }

    ~ServerProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    // Bounded: until /readyz answers 200.
    bool ready() {
        return pid_ > 0 && within(seconds(10), [&] { return readyz() == 200; });
    }

    unsigned readyz() {
        try {
            return Connection(port).send(http::verb::get, "/readyz", "", "").result_int();
        } catch (const beast::system_error&) {
            return 0;
        }
    }

    void signal(int number) { kill(pid_, number); }

    // The process's CPU time so far, user and system.
    double cpuSeconds() const {
        std::ifstream file("/proc/" + std::to_string(pid_) + "/stat");
        std::string stat((std::istreambuf_iterator<char>(file)), {});
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        // After the name: state is the 3rd field, utime the 14th, stime the 15th.
        for (int number = 3; number < 14; ++number) fields >> field;
        double utime = 0;
        double stime = 0;
        fields >> utime >> stime;
        return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

    // The exit status, or -1 if the process is still running after `limit`.
    int exitWithin(Clock::duration limit) {
        int status = 0;
        bool ended = within(limit, [&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
        if (!ended)
            return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string log() const {
        std::ifstream file(folder_.file("stderr"));
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    uint16_t port = 0;

  private:
    TempFolder folder_;
    pid_t pid_ = -1;
};

TEST(ServerProcessTest, DrainsOnSigtermAndExitsZero) {
    ServerProcess server({"--drain-timeout", "2"});
    ASSERT_TRUE(server.ready()) << server.log();
    Stream stream(server.port);
    stream.send(frames(10));
    bool text = false;
    EXPECT_EQ(stream.read(text).size(), 10u * 320);

    auto signalled = Clock::now();
    server.signal(SIGTERM);
    EXPECT_TRUE(within(seconds(2), [&] { return server.readyz() == 503; }));
    EXPECT_EQ(Connection(server.port).send(http::verb::get, "/readyz", "", "").body(),
              "draining\n");
    Response refused = Connection(server.port).send(http::verb::post, "/v1/decode", frames(1));
    EXPECT_EQ(refused.result_int(), 503);
    EXPECT_EQ(refused.body(), "server draining\n");
    // The stream in progress goes on, then is closed with the reason at the drain time-out.
    stream.send(frames(5));
    EXPECT_EQ(stream.read(text).size(), 5u * 320);
    websocket::close_reason reason = stream.readClose();
    EXPECT_EQ(reason.code, 1001);
    EXPECT_EQ(reason.reason, "server draining");
    EXPECT_GE(Clock::now() - signalled, milliseconds(1900));
    EXPECT_EQ(server.exitWithin(seconds(5)), 0) << server.log();
    EXPECT_NE(server.log().find("drained, exiting"), std::string::npos) << server.log();
}

TEST(ServerProcessTest, PausesAcceptingWhenOutOfFileDescriptorsAndSaysSoOnce) {
    // Room for the server's own descriptors and a few dozen connections; those held stay open.
    ServerProcess server({"--max-unauthenticated", "1000", "--max-connections-per-address", "1000",
                          "--header-timeout", "60"},
                         USB3K_SIM_LIBRARY_DIR, 64);
    ASSERT_TRUE(server.ready());
    const std::string paused =
        "usb3k-server: out of file descriptors (EMFILE): accepting paused; "
        "raise LimitNOFILE or lower max-connections\n";
    net::io_context io;
    std::vector<tcp::socket> held;
    for (int i = 0; i < 100; ++i) held.push_back(connectFrom(io, "127.0.0.1", server.port));
    ASSERT_TRUE(within(seconds(10), [&] { return server.log().find(paused) != std::string::npos; }))
        << server.log();
    // Paused, it wakes ten times a second: far from a core spinning on the failing accept.
    double before = server.cpuSeconds();
    std::this_thread::sleep_for(seconds(2));
    EXPECT_LT(server.cpuSeconds() - before, 0.5);
    std::string log = server.log();
    EXPECT_EQ(log.find(paused), log.rfind(paused)) << log;
    held.clear();
    EXPECT_TRUE(within(seconds(10), [&] { return server.readyz() == 200; }));
}

TEST(ServerProcessTest, AClientOfAKilledServerSeesTheConnectionEnd) {
    ServerProcess server;
    ASSERT_TRUE(server.ready()) << server.log();
    Stream stream(server.port);
    stream.send(frames(10));
    bool text = false;
    EXPECT_EQ(stream.read(text).size(), 10u * 320);
    // A POST whose body is half sent.
    Connection post(server.port);
    std::string body = frames(100);
    net::write(post.stream(),
               net::buffer(postHead("/v1/decode", body.size()) + body.substr(0, 350)));

    server.signal(SIGKILL);
    EXPECT_EQ(server.exitWithin(seconds(5)), 128 + SIGKILL);
    auto begin = Clock::now();
    beast::error_code ec = stream.readError();
    beast::flat_buffer buffer;
    EXPECT_TRUE(ec == net::error::eof || ec == net::error::connection_reset) << ec.message();
    post.stream().expires_after(seconds(5));
    beast::error_code written;
    net::write(post.stream(), net::buffer(body.substr(350)), written);
    http::response<http::string_body> response;
    http::read(post.stream(), buffer, response, ec);
    EXPECT_TRUE(written || ec == http::error::end_of_stream || ec == net::error::connection_reset)
        << ec.message();
    EXPECT_LT(Clock::now() - begin, seconds(1));
}

// Without a D2XX library to load (the loader's path is an empty folder; the machines that run the
// tests have no D2XX of their own), the server starts and says why it has no device: once in its
// log, in /readyz and in --check-config. A library put there later is found by the next listing.
TEST(ServerProcessTest, SaysWhyD2xxCannotBeUsedAndFindsItOnceInstalled) {
    TempFolder libraries;
    const std::string reason =
        "cannot load the D2XX library: libftd2xx.so: cannot open shared object file: No such file "
        "or directory";
    const std::string fix =
        "install FTDI's D2XX driver: copy libftd2xx.so from FTDI's D2XX download for this "
        "machine's architecture into /usr/local/lib and run ldconfig (or name its folder in "
        "LD_LIBRARY_PATH)";
    const std::string troubleLog = "usb3k-server: no USB-3000 can be used: " + reason +
                                   "\nusb3k-server: to fix: " + fix + "\n";

    ServerProcess server({}, libraries.path());
    ASSERT_TRUE(within(seconds(10), [&] { return server.readyz() == 503; })) << server.log();
    for (int probe = 0; probe < 3; ++probe) {
        Response ready = Connection(server.port).send(http::verb::get, "/readyz", "", "");
        EXPECT_EQ(ready.result_int(), 503);
        EXPECT_EQ(ready.body(), "no USB-3000 can be used: " + reason + "\nto fix: " + fix + "\n");
    }
    const std::string startLog = "usb3k-server: listening on 127.0.0.1 port " +
                                 std::to_string(server.port) + " (plain HTTP)\n" + troubleLog;
    // The start's listing may write its lines just after a probe's listing has answered.
    within(seconds(5), [&] { return server.log() == startLog; });
    EXPECT_EQ(server.log(), startLog);

    const std::string check = "LD_LIBRARY_PATH=" + libraries.path() + " " + USB3K_SERVER_BINARY +
                              " --check-config --config /dev/null";
    std::string report;
    FILE* output = popen(check.c_str(), "r");
    ASSERT_NE(output, nullptr);
    for (int c = std::fgetc(output); c != EOF; c = std::fgetc(output))
        report += static_cast<char>(c);
    EXPECT_EQ(pclose(output), 0) << "a D2XX that fails is no reason to refuse the settings";
    EXPECT_THAT(report, testing::EndsWith("\n  d2xx                       " + reason +
                                          "\nwarning: d2xx: the server would start but use no "
                                          "USB-3000; to fix: " +
                                          fix + "\nconfiguration ok\n"));

    std::filesystem::copy_file(std::string(USB3K_SIM_LIBRARY_DIR) + "/libftd2xx.so",
                               libraries.file("libftd2xx.so"));
    EXPECT_TRUE(within(seconds(10), [&] { return server.readyz() == 200; }));
    EXPECT_EQ(server.log(), startLog + "usb3k-server: D2XX loaded, 1 USB-3000 attached\n");
}

// The real server and device pool over the emulator, with or without tokens.
class EmulatedServerTest : public SimTest {
  protected:
    void start(std::shared_ptr<const TokenList> tokens = nullptr) {
        if (tokens)
            options_.tokenFile = "(the test's)";
        pool_ = std::make_unique<RegistryDevicePool>(options_);
        server_ = std::make_unique<Server>(options_, *pool_, metrics_, tokens);
        net::io_context io;
        tcp::acceptor socket(io, loopback(0));
        std::string error;
        ASSERT_TRUE(server_->open({socket.release()}, error)) << error;
        server_->start(2);
        port_ = server_->port();
    }

    static int channelRequests() { return sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL); }

    static std::string speechOfFrames(const std::string& vcw) {
        std::vector<uint8_t> speech = speechForFrames(std::vector<uint8_t>(vcw.begin(), vcw.end()));
        // The device sends each sample high byte first; the answer is little-endian.
        for (std::size_t i = 0; i + 1 < speech.size(); i += 2) std::swap(speech[i], speech[i + 1]);
        return std::string(speech.begin(), speech.end());
    }

    ServerOptions options_;
    ServerMetrics metrics_;
    std::unique_ptr<RegistryDevicePool> pool_;
    std::unique_ptr<Server> server_;
    uint16_t port_ = 0;
};

TEST_F(EmulatedServerTest, AStreamWhoseDeviceIsUnpluggedGoesOnWhenItReturnsInTime) {
    options_.reconnectTimeout = seconds(1);
    start();
    Stream stream(port_, "");
    std::string first = frames(150);
    // Unplugged as the 100th frame reaches it, and away until the test plugs it back in.
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 100, SIM_DEVICE_UNPLUGGED, 0);
    stream.send(first);
    bool text = false;
    std::string away = stream.read(text);
    EXPECT_TRUE(text);
    EXPECT_EQ(away, R"({"event":"away","serial":"EMU30001","frame":99})");
    EXPECT_NE(Connection(port_)
                  .send(http::verb::get, "/v1/devices", "", "")
                  .body()
                  .find(R"("state":"away")"),
              std::string::npos);
    ASSERT_EQ(sim_reattach_device(SIM_DEFAULT_SERIAL), 1);
    std::string back = stream.read(text);
    EXPECT_TRUE(text);
    EXPECT_EQ(back, R"({"event":"back","serial":"EMU30001","frame":99})");
    std::string speech = stream.read(text);
    EXPECT_FALSE(text);
    EXPECT_TRUE(speech == speechOfFrames(first)) << "every frame its own speech";

    // Unplugged again, for longer than the reconnect time-out, as the 100th frame since it came
    // back reaches it.
    stream.send(frames(100));
    EXPECT_EQ(stream.read(text), R"({"event":"away","serial":"EMU30001","frame":198})");
    EXPECT_EQ(stream.read(text).size(), 48u * 320);
    websocket::close_reason reason = stream.readClose();
    EXPECT_EQ(reason.code, 4001);
    EXPECT_EQ(std::string(reason.reason.data(), reason.reason.size()),
              "device gone: USB-3000 EMU30001 was not attached again within 1 s (check its cable "
              "and its USB hub): frame 199 of the VCW...");
}

TEST_F(EmulatedServerTest, RefusesBadAccessAndInputWithItsStatusOrCloseCodeAndReason) {
    options_.maxHeaderBytes = 1024;
    start(std::make_shared<TokenList>(std::vector<TokenList::Token>{{"alice", TOKEN}}));
    // Missing, wrong, then revoked as a reload does it: 401 for a decode and a stream.
    for (const std::string& token : {std::string(), std::string("secret-of-eve"), TOKEN}) {
        if (token == TOKEN)
            server_->context().setTokens(std::make_shared<TokenList>(
                std::vector<TokenList::Token>{{"bob", "secret-of-bob"}}));
        Response refused = Connection(port_).send(http::verb::post, "/v1/decode", frames(3), token);
        EXPECT_EQ(refused.result_int(), 401);
        EXPECT_EQ(refused[http::field::www_authenticate], "Bearer");
        EXPECT_THROW(Stream(port_, token), beast::system_error);
    }
    EXPECT_EQ(channelRequests(), 0) << "nothing decoded for the unauthenticated";

    const std::string bob = "secret-of-bob";
    auto handshake = [&](const std::string& target) { return streamHandshake(port_, bob, target); };
    Response unknown = handshake("/v1/stream?device=NOPE");
    EXPECT_EQ(unknown.result_int(), 404);
    EXPECT_EQ(unknown.body(), "no USB-3000 with serial number NOPE is attached\n");
    Response format = handshake("/v1/stream?format=wav");
    EXPECT_EQ(format.result_int(), 400);
    EXPECT_EQ(format.body(), "unknown query parameter: format\n");
    Response twice =
        Connection(port_).send(http::verb::post, "/v1/decode?device=A&device=B", frames(1), bob);
    EXPECT_EQ(twice.result_int(), 400);
    EXPECT_EQ(twice.body(), "the parameter device is given twice\n");
    Response header =
        Connection(port_).send(http::verb::get, "/v1/devices?" + std::string(1100, 'x'), "", bob);
    EXPECT_EQ(header.result_int(), 431);
    EXPECT_EQ(header.body(), "the request's header is larger than 1024 bytes\n");

    Stream empty(port_, bob);
    empty.send("");
    websocket::close_reason reason = empty.readClose();
    EXPECT_EQ(reason.code, 1007);
    EXPECT_EQ(reason.reason, "the message holds no frame");
    EXPECT_EQ(channelRequests(), 0);

    // The same server decodes for a token it knows: the count above could have moved.
    std::string vcw = frames(3);
    Response pcm = Connection(port_).send(http::verb::post, "/v1/decode?format=pcm", vcw, bob);
    EXPECT_EQ(pcm.body(), speechOfFrames(vcw));
    EXPECT_EQ(channelRequests(), 3);
}

}  // namespace
