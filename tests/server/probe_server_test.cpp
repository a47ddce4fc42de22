// usb3k-probe --server against the real usb3k-server in process, over the emulator, through
// runProbe only: the report's exact lines and the exit status for a good decode, a concealed
// frame, a refused token, a serial number the server lacks, a server that is not there, a device
// that is not usable, a decode that ends early, and TLS with and without the server's certificate
// trusted; the server URIs and the token files the probe reads.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "server/registry_device_pool.h"
#include "server/server.h"
#include "server/token_list.h"
#include "tests/server/temp_folder.h"
#include "tests/server/test_certificate.h"
#include "tests/sim_test_support.h"
#include "tools/probe.h"
#include "tools/server_uri.h"
#include "tools/token_file.h"

namespace {

using Lines = std::vector<std::string>;

const std::string VERSION_LINE = std::string("usb3k-probe ") + USB3K_VERSION;
const char* const TOKEN = "secret-of-the-probe";

// A socket listening on a loopback port the system chooses, handed to the server as systemd
// hands it its own; `port` is that port.
int loopbackListener(uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

class ServerProbeTest : public SimTest {
  protected:
    void serve() {
        pool_ = std::make_unique<RegistryDevicePool>(options_);
        auto tokens = std::make_shared<TokenList>(std::vector<TokenList::Token>{{"probe", TOKEN}});
        server_ = std::make_unique<Server>(options_, *pool_, metrics_, tokens);
        uint16_t port = 0;
        const int listener = loopbackListener(port);
        ASSERT_GE(listener, 0);
        std::string error;
        ASSERT_TRUE(server_->open({listener}, error)) << error;
        server_->start(2);
        address_ = "127.0.0.1:" + std::to_string(server_->port());
        // A comment, a blank line and spaces around the token, which the probe skips.
        tokenFile_ = folder_.write("token", std::string("# the probe's\n\n  ") + TOKEN + " \n");
    }

    struct Run {
        int status = -1;
        Lines out;
    };

    Run probe(const Lines& args) {
        Run run;
        std::ostringstream out;
        run.status = runProbe(args, out);
        run.out = splitLines(out.str());
        return run;
    }

    // The decode section's lines but its time, which is checked for its form.
    static Lines withoutTime(Lines lines) {
        for (auto line = lines.begin(); line != lines.end(); ++line) {
            double milliseconds = -1;
            long long perSecond = -1;
            if (line->rfind("  time: ", 0) == 0) {
                EXPECT_EQ(std::sscanf(line->c_str(), "  time: %lf ms, %lld frames/s", &milliseconds,
                                      &perSecond),
                          2)
                    << *line;
                EXPECT_TRUE(milliseconds > 0 && perSecond > 0) << *line;
                lines.erase(line);
                break;
            }
        }
        return lines;
    }

    Lines goodReport(const std::string& scheme) const {
        return {VERSION_LINE,
                "server: " + scheme + "://" + address_ + "/",
                "",
                "USB-3000s: 1",
                "  #  state  usable  serial            product ID  version     description",
                "  0  free   yes     EMU30001          USB-3000    2.7.1-emu   USB-3000 (emulated)",
                "",
                "decode: POST /v1/decode?format=pcm, 5 frames",
                "  answer: 200, 1600 bytes of speech, 0 of 5 frames concealed",
                "  result: ok"};
    }

    TempFolder folder_;
    ServerOptions options_;
    ServerMetrics metrics_;
    std::unique_ptr<RegistryDevicePool> pool_;
    std::unique_ptr<Server> server_;
    std::string address_;
    std::string tokenFile_;
};

TEST_F(ServerProbeTest, ListsTheDevicesTimesADecodeAndNamesEachFailureWithItsStatus) {
    serve();
    const std::string uri = "http://" + address_;
    Run run = probe({"--server", uri, "--token-file", tokenFile_, "--frames", "5"});
    EXPECT_EQ(run.status, PROBE_OK);
    EXPECT_EQ(withoutTime(run.out), goodReport("http"));
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL), 5);

    // The second frame fails on both of its attempts: the server conceals it, the probe fails.
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 7, SIM_ANSWER_NONE, 0);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 8, SIM_ANSWER_NONE, 0);
    run = probe({"--server", uri, "--token-file", tokenFile_, "--frames=3"});
    EXPECT_EQ(run.status, PROBE_DEVICE_FAILED);
    EXPECT_EQ(
        Lines(run.out.begin() + 7, run.out.end()),
        (Lines{"decode: POST /v1/decode?format=pcm, 3 frames",
               "  answer: 200, 960 bytes of speech, 1 of 3 frames concealed", "  result: failed"}));

    const std::string wrongToken = folder_.write("wrong", "not-the-token\n");
    run = probe({"--server", uri, "--token-file", wrongToken});
    EXPECT_EQ(run.status, PROBE_SERVER_FAILED);
    EXPECT_EQ(Lines(run.out.begin() + 3, run.out.end()),
              (Lines{uri + "/ refused the token (401)",
                     "likely cause: the token is wrong, or was removed from the server's token "
                     "file",
                     "to fix: use a token from the server's token file (its administrator adds a "
                     "line name:token and runs systemctl reload usb3k-server)"}));

    run = probe({"--server", uri, "--token-file", tokenFile_, "--serial", "NOPE"});
    EXPECT_EQ(run.status, PROBE_NO_USB3000);
    EXPECT_EQ(run.out.back(), "no USB-3000 with serial number NOPE");
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL), 9);

    uint16_t closedPort = 0;
    close(loopbackListener(closedPort));
    const std::string nowhere = "http://127.0.0.1:" + std::to_string(closedPort);
    run = probe({"--server", nowhere, "--token-file", tokenFile_});
    EXPECT_EQ(run.status, PROBE_SERVER_FAILED);
    EXPECT_EQ(Lines(run.out.begin() + 3, run.out.begin() + 5),
              (Lines{nowhere + "/ could not be reached: Connection refused",
                     "likely cause: usb3k-server is not running there, the address or port is "
                     "wrong, or a firewall is in the way"}));

    EXPECT_EQ(probe({"--server", uri, "--token-file", folder_.file("none")}).out,
              (Lines{"usb3k-probe: cannot read the token file " + folder_.file("none") +
                         ": no such file or directory",
                     "usage: usb3k-probe [--serial S] [--frames N] [--trace] [-h | --help] "
                     "[--version]"}));
    const std::string namedToken = folder_.write("named", std::string("probe:") + TOKEN + "\n");
    run = probe({"--server", uri, "--token-file", namedToken});
    EXPECT_EQ(run.status, PROBE_USAGE);
    EXPECT_EQ(run.out.front(), "usb3k-probe: the token file " + namedToken +
                                   " holds a line name:token, as the server's own token file "
                                   "does: leave out \"name:\" and keep only the token");
    EXPECT_EQ(probe({"--server", "ftp://host", "--token-file", tokenFile_}).status, PROBE_USAGE);
    EXPECT_EQ(probe({"--server", uri}).out.front(),
              "usb3k-probe: --server needs --token-file FILE");
}

TEST_F(ServerProbeTest, VerifiesTheServersCertificateAgainstTheCaFileGiven) {
    options_.tlsCert = folder_.file("server.crt");
    options_.tlsKey = folder_.file("server.key");
    makeCertificate(options_.tlsCert, options_.tlsKey, "IP:127.0.0.1");
    serve();
    const std::string uri = "https://" + address_;
    Run run = probe(
        {"--server", uri, "--token-file", tokenFile_, "--ca-file", options_.tlsCert, "--frames=5"});
    EXPECT_EQ(run.status, PROBE_OK);
    EXPECT_EQ(withoutTime(run.out), goodReport("https"));

    run = probe({"--server", uri, "--token-file", tokenFile_});
    EXPECT_EQ(run.status, PROBE_SERVER_FAILED);
    EXPECT_EQ(Lines(run.out.begin() + 3, run.out.end()),
              (Lines{uri + "/ could not be trusted: certificate verify failed: self-signed "
                           "certificate",
                     "likely cause: its certificate is not signed by an authority this machine "
                     "trusts, or does not name the address used",
                     "to fix: add the server's certificate authority to the system's trust "
                     "store, or name it with --ca-file"}));
}

TEST_F(ServerProbeTest, ShowsWhyADeviceIsNotUsableAndFailsADecodeThatEndsEarly) {
    // The second device does not identify itself: listed, not usable, with the library's reason.
    sim_add_device(SIM_USB3000_ID, "EMU30002", "USB-3000 (emulated)");
    sim_fault_answer("EMU30002", SIM_REQ_VERSION, 0, SIM_ANSWER_NONE, 0);
    // Unplugged as the third frame reaches it, and not back within the reconnect time-out.
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 3, SIM_DEVICE_UNPLUGGED, 0);
    options_.reconnectTimeout = std::chrono::seconds(1);
    serve();
    Run run = probe({"--server", "http://" + address_, "--token-file", tokenFile_, "--serial",
                     "EMU30001", "--frames", "4"});
    EXPECT_EQ(run.status, PROBE_DEVICE_FAILED);
    EXPECT_EQ(
        Lines(run.out.begin() + 3, run.out.end()),
        (Lines{"USB-3000s: 2",
               "  #  state  usable  serial            product ID  version     description",
               "  0  free   yes     EMU30001          USB-3000    2.7.1-emu   USB-3000 (emulated)",
               "  1  free   no      EMU30002                                  USB-3000 (emulated)",
               "     not usable: USB3K::receivePacket - failed to read packet header: wanted 4, "
               "got 0; USB3K::USB3K - did not receive version response; Usb3kDecoder::devices - "
               "USB-3000 device EMU30002 is not ready",
               "", "decode: POST /v1/decode?format=pcm&device=EMU30001, 4 frames",
               "  answer: 200, 640 bytes of speech, not 1280, cut short",
               "  error: the server closed the connection before the answer's end: the device "
               "was unplugged or stopped answering, the server drained, or the token was revoked "
               "(the server's log says which)",
               "  result: failed"}));
}

// The same files and words as the Java client's token file test: the token, or the refusal that
// names the file and never quotes its line.
TEST(TokenFileTest, TakesTheFirstLineNeitherBlankNorACommentAndRefusesWhatIsNoToken) {
    TempFolder folder;
    std::filesystem::create_directory(folder.file("folder"));
    const std::string secret = "s3cret-Token";
    const std::string noToken =
        "the token file FILE holds no token: its first line that is neither blank nor a # "
        "comment is the token";
    const std::string nameAndToken =
        "the token file FILE holds a line name:token, as the server's own token file does: leave "
        "out \"name:\" and keep only the token";
    const std::string badCharacter =
        "the token file FILE holds a token with a character a token cannot have (a space, a "
        "control character or one outside ASCII)";
    struct Case {
        const char* file;
        std::optional<std::string> text;  // none: the file is not written
        std::string token;
        std::string error;  // FILE stands for the file's path
    };
    const Case cases[] = {
        {"comments", "# for the monitor\n  # indented\n" + secret + "\nsecond\n", secret, ""},
        {"blank", "\n \t\n\t " + secret + " \t\n", secret, ""},
        {"crlf", "# the probe's\r\n\r\n" + secret + "\r\n", secret, ""},
        {"unended", secret, secret, ""},
        {"named", "# copied\nmonitor:" + secret + "\n", "", nameAndToken},
        {"comments-only", "# one\n\n  # two\n", "", noToken},
        {"empty", "", "", noToken},
        {"space", "s3cret Token\n", "", badCharacter},
        {"control", secret + "\x01\n", "", badCharacter},
        {"non-ascii", "s3cret-T\xc3\xb6ken\n", "", badCharacter},
        {"missing", std::nullopt, "", "cannot read the token file FILE: no such file or directory"},
        {"folder", std::nullopt, "", "cannot read the token file FILE: it is a directory"},
    };
    for (const Case& c : cases) {
        const std::string path = c.text ? folder.write(c.file, *c.text) : folder.file(c.file);
        std::string expected = c.error;
        if (const std::size_t at = expected.find("FILE"); at != expected.npos) {
            expected.replace(at, 4, path);
        }
        std::string token;
        std::string error;
        EXPECT_EQ(readTokenFile(path, token, error), c.error.empty()) << c.file;
        EXPECT_EQ(token, c.token) << c.file;
        EXPECT_EQ(error, expected) << c.file;
    }
}

TEST(ServerUriTest, ReadsHostPortAndBasePathAndRefusesWhatIsNoServer) {
    ServerUri uri;
    std::string error;
    ASSERT_TRUE(parseServerUri("https://[::1]:8443/usb3k", uri, error)) << error;
    EXPECT_TRUE(uri.tls);
    EXPECT_EQ(uri.host, "::1");
    EXPECT_EQ(uri.port, "8443");
    EXPECT_EQ(uri.basePath, "/usb3k/");
    EXPECT_EQ(uri.text, "https://[::1]:8443/usb3k/");
    ASSERT_TRUE(parseServerUri("http://board", uri, error));
    EXPECT_EQ(uri.port, "80");
    EXPECT_EQ(uri.basePath, "/");
    for (const char* wrong :
         {"board:8443", "ftp://board", "http://", "http://:80", "http://a@b", "http://b:0",
          "http://b:65536", "http://b:x", "http://b/?q", "http://[::1"}) {
        EXPECT_FALSE(parseServerUri(wrong, uri, error)) << wrong;
    }
    EXPECT_EQ(error, "the server is http://HOST[:PORT] or https://HOST[:PORT], not 'http://[::1'");
}

}  // namespace
