#include <gtest/gtest.h>

#include "server/server_config.h"
#include "tests/server/temp_folder.h"

namespace {

using Action = ServerCommand::Action;
const std::string kNoFile = "/nonexistent/server.conf";

TEST(ServerOptions, CommandLineWinsOverTheFileAndDefaultsFillTheRest) {
    TempFolder folder;
    std::string config = folder.write("server.conf",
                                      "# usb3k-server\n"
                                      "listen = 0.0.0.0:8443\n"
                                      "  queue-timeout=2m\n"
                                      "\n"
                                      "max-queued = 10\n"
                                      "insecure = yes\n");
    ServerCommand command =
        parseServerCommand({"--listen=[::1]:9000", "--config", config, "--queue-timeout", "45s",
                            "--check-config", "--idle-timeout", "1h", "--header-timeout", "5",
                            "--max-unauthenticated=8", "--max-connections-per-address", "2"},
                           kNoFile);
    ASSERT_EQ(command.error, "");
    EXPECT_EQ(command.action, Action::CheckConfig);
    EXPECT_EQ(command.options.listen, "[::1]:9000");
    EXPECT_EQ(command.options.queueTimeout.count(), 45);
    EXPECT_EQ(command.options.idleTimeout.count(), 3600);
    EXPECT_EQ(command.options.maxQueued, 10u);
    EXPECT_EQ(command.options.headerTimeout.count(), 5);
    EXPECT_EQ(command.options.maxUnauthenticated, 8u);
    EXPECT_EQ(command.options.maxConnectionsPerAddress, 2u);
    EXPECT_TRUE(command.options.insecure);
    EXPECT_EQ(command.options.maxInFlight, ServerOptions().maxInFlight);

    // The default file is read when --config names none, and its absence is no error.
    EXPECT_EQ(parseServerCommand({}, config).options.listen, "0.0.0.0:8443");
    EXPECT_EQ(parseServerCommand({}, kNoFile).error, "");
    EXPECT_EQ(parseServerCommand({"--listen", "nowhere", "--version"}).action, Action::Version);
    EXPECT_EQ(parseServerCommand({"--lisen", "-h"}).action, Action::Help);
}

TEST(ServerOptions, BadValuesNameTheOptionOrTheLine) {
    const std::string duration =
        "is not a duration: seconds, or a number followed by s, m or h (30, 30s, 2m), at most a "
        "day";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--queue-timeout", "soon"}, "--queue-timeout: \"soon\" " + duration},
        {{"--max-queued", "0"}, "--max-queued: \"0\" is not a whole number from 1 to 4294967295"},
        {{"--listen", "localhost:8443"},
         "--listen: \"localhost:8443\": the address must be a numeric IPv4 address or an IPv6 "
         "address in brackets"},
        {{"--listen=127.0.0.1:70000"},
         "--listen: \"127.0.0.1:70000\": the port must be a number from 1 to 65535"},
        {{"--token-file"}, "--token-file needs a value"},
        {{"--insecure=yes"}, "--insecure takes no value"},
        {{"--lisen=1"}, "unknown option --lisen; usb3k-server --help lists the options"},
        {{"8443"}, "unexpected argument \"8443\"; usb3k-server --help lists the options"},
        {{"--config", kNoFile}, kNoFile + ": cannot be read"},
    };
    for (const auto& [args, error] : cases) {
        EXPECT_EQ(parseServerCommand(args, kNoFile).error, error) << args[0];
    }

    TempFolder folder;
    for (const auto& [line, error] : std::vector<std::pair<std::string, std::string>>{
             {"queue-timeout = soon", "queue-timeout: \"soon\" " + duration},
             {"insecure = maybe", "insecure: \"maybe\" is not true or false"},
             {"config = other.conf", "unknown setting \"config\""},
             {"listen 127.0.0.1:1", "expected name = value"}}) {
        std::string config = folder.write("server.conf", "# first\n\n" + line + "\n");
        EXPECT_EQ(parseServerCommand({"--config=" + config}, kNoFile).error,
                  config + ", line 3: " + error);
    }
}

TEST(ServerOptions, OnlyLoopbackIsServedWithoutTlsAndTokensUnlessInsecure) {
    ServerOptions options;
    std::string error;
    std::string warning;
    for (const char* loopback : {"127.0.0.1", "127.1.2.3", "::1", "::ffff:127.0.0.2"}) {
        EXPECT_TRUE(servingAllowed(options, loopback, error, warning)) << loopback;
    }
    options.tokenFile = "/etc/usb3k/tokens";
    EXPECT_FALSE(servingAllowed(options, "::ffff:10.0.0.1", error, warning));
    EXPECT_EQ(error,
              "refusing to serve ::ffff:10.0.0.1, which is not loopback, without TLS "
              "(--tls-cert and --tls-key, --token-file); --insecure serves it anyway");
    options.insecure = true;
    EXPECT_TRUE(servingAllowed(options, "0.0.0.0", error, warning));
    EXPECT_EQ(warning,
              "serving 0.0.0.0 without TLS (--insecure): anyone who reaches it can use "
              "the devices");
    options.tlsCert = "server.pem";
    EXPECT_FALSE(servingAllowed(options, "127.0.0.1", error, warning));
    EXPECT_EQ(error, "TLS needs both --tls-cert and --tls-key");
    options.tlsKey = "server.key";
    EXPECT_TRUE(servingAllowed(options, "10.0.0.1", error, warning));
    EXPECT_EQ(warning, "");
}

}  // namespace
