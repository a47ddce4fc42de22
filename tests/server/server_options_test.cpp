#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "server/option_table.h"
#include "server/server_config.h"
#include "tests/server/temp_folder.h"

namespace {

using Action = ServerCommand::Action;

TEST(ServerOptions, CommandLineWinsOverTheFileAndDefaultsFillTheRest) {
    TempFolder folder;
    std::string config = folder.write("server.conf",
                                      "# usb3k-server\n"
                                      "listen = 0.0.0.0:8443\n"
                                      "  queue-timeout=2m\n"
                                      "\n"
                                      "max-queued = 10\n"
                                      "insecure = yes\n"
                                      "token-file = /etc/usb3k/tokens\n");
    ServerCommand command =
        parseServerCommand({"--listen=[::1]:9000", "--config", config, "--queue-timeout", "45s",
                            "--check-config", "--drain-timeout=90", "--max-body-bytes", "1024"},
                           "/nonexistent/default.conf");
    ASSERT_EQ(command.error, "");
    EXPECT_EQ(command.action, Action::CheckConfig);
    const ServerOptions& options = command.options;
    EXPECT_EQ(options.listen, "[::1]:9000");
    EXPECT_EQ(options.queueTimeout.count(), 45);
    EXPECT_EQ(options.drainTimeout.count(), 90);
    EXPECT_EQ(options.maxBodyBytes, 1024u);
    EXPECT_EQ(options.maxQueued, 10u);
    EXPECT_TRUE(options.insecure);
    EXPECT_EQ(options.tokenFile, "/etc/usb3k/tokens");
    EXPECT_EQ(options.idleTimeout.count(), ServerOptions().idleTimeout.count());
    EXPECT_EQ(options.maxInFlight, ServerOptions().maxInFlight);

    // The default file is read when --config names none, and its absence is no error.
    command = parseServerCommand({"--idle-timeout", "1h"}, config);
    EXPECT_EQ(command.action, Action::Serve);
    EXPECT_EQ(command.options.listen, "0.0.0.0:8443");
    EXPECT_EQ(command.options.idleTimeout.count(), 3600);
    command = parseServerCommand({}, "/nonexistent/default.conf");
    EXPECT_EQ(command.error, "");
    EXPECT_EQ(command.options.listen, "127.0.0.1:8443");

    EXPECT_EQ(parseServerCommand({"--listen", "nowhere", "--version"}).action, Action::Version);
    EXPECT_EQ(parseServerCommand({"--help"}).action, Action::Help);
}

TEST(ServerOptions, BadValuesNameTheOptionOrTheLine) {
    const std::string none = "/nonexistent/default.conf";
    const std::string duration =
        "is not a duration: seconds, or a number followed by s, m or h (30, 30s, 2m), at most a "
        "day";
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--queue-timeout", "soon"}, "--queue-timeout: \"soon\" " + duration},
        {{"--idle-timeout=25h"}, "--idle-timeout: \"25h\" " + duration},
        {{"--read-timeout=-1"}, "--read-timeout: \"-1\" " + duration},
        {{"--max-queued", "0"}, "--max-queued: \"0\" is not a whole number from 1 to 4294967295"},
        {{"--max-in-flight=4k"},
         "--max-in-flight: \"4k\" is not a whole number from 1 to 4294967295"},
        {{"--listen", "localhost:8443"},
         "--listen: \"localhost:8443\": the address must be a numeric IPv4 address or an IPv6 "
         "address in brackets"},
        {{"--listen=127.0.0.1:70000"},
         "--listen: \"127.0.0.1:70000\": the port must be a number from 1 to 65535"},
        {{"--listen=::1"},
         "--listen: \"::1\": the address must be a numeric IPv4 address or an "
         "IPv6 address in brackets"},
        {{"--token-file"}, "--token-file needs a value"},
        {{"--insecure=yes"}, "--insecure takes no value"},
        {{"--lisen=1"}, "unknown option --lisen; usb3k-server --help lists the options"},
        {{"8443"}, "unexpected argument \"8443\"; usb3k-server --help lists the options"},
        {{"--config", "/nonexistent/named.conf"}, "/nonexistent/named.conf: cannot be read"},
    };
    for (const auto& [args, error] : cases) {
        EXPECT_EQ(parseServerCommand(args, none).error, error) << args[0];
    }

    TempFolder folder;
    const std::vector<std::pair<std::string, std::string>> lines{
        {"queue-timeout = soon", "queue-timeout: \"soon\" " + duration},
        {"insecure = maybe", "insecure: \"maybe\" is not true or false"},
        {"lisen = 127.0.0.1:1", "unknown setting \"lisen\""},
        {"config = other.conf", "unknown setting \"config\""},
        {"listen 127.0.0.1:1", "expected name = value"},
    };
    for (const auto& [line, error] : lines) {
        std::string config = folder.write("server.conf", "# first\n\n" + line + "\n");
        ServerCommand command = parseServerCommand({"--check-config", "--config=" + config}, none);
        EXPECT_EQ(command.error, config + ", line 3: " + error);
        EXPECT_EQ(command.action, Action::CheckConfig);
    }
}

TEST(ServerOptions, OnlyLoopbackIsServedWithoutTlsAndTokensUnlessInsecure) {
    ServerOptions options;
    std::string error;
    std::string warning;
    EXPECT_TRUE(servingAllowed(options, "127.0.0.1", error, warning));
    EXPECT_TRUE(servingAllowed(options, "::1", error, warning));
    EXPECT_TRUE(servingAllowed(options, "::ffff:127.0.0.2", error, warning));
    EXPECT_EQ(warning, "");

    EXPECT_FALSE(servingAllowed(options, "0.0.0.0", error, warning));
    EXPECT_EQ(error,
              "refusing to serve 0.0.0.0, which is not loopback, without TLS and tokens "
              "(--tls-cert and --tls-key, --token-file); --insecure serves it anyway");
    options.tokenFile = "/etc/usb3k/tokens";
    EXPECT_FALSE(servingAllowed(options, "192.168.1.5", error, warning));
    EXPECT_EQ(error,
              "refusing to serve 192.168.1.5, which is not loopback, without TLS "
              "(--tls-cert and --tls-key, --token-file); --insecure serves it anyway");

    options.insecure = true;
    EXPECT_TRUE(servingAllowed(options, "::", error, warning));
    EXPECT_EQ(warning,
              "serving :: without TLS (--insecure): anyone who reaches it can use the "
              "devices");

    options.tlsCert = "server.pem";
    EXPECT_FALSE(servingAllowed(options, "127.0.0.1", error, warning));
    EXPECT_EQ(error, "TLS needs both --tls-cert and --tls-key");
    options.tlsKey = "server.key";
    options.insecure = false;
    EXPECT_TRUE(servingAllowed(options, "10.0.0.1", error, warning));
    EXPECT_EQ(warning, "");
}

// The configuration file the package ships shows every setting, commented out, with its default.
TEST(ServerOptions, ShippedConfigurationShowsEveryDefault) {
    std::ifstream shipped(USB3K_SOURCE_DIR "/cmake/packaging/usb3k-server/server.conf");
    ASSERT_TRUE(shipped);
    std::string uncommented;
    std::size_t settings = 0;
    const std::regex setting("#([a-z-]+ = .*)");
    std::smatch match;
    for (std::string line; std::getline(shipped, line);) {
        if (std::regex_match(line, match, setting)) {
            uncommented += match[1].str() + "\n";
            ++settings;
        }
    }
    TempFolder folder;
    ServerCommand command =
        parseServerCommand({"--config", folder.write("server.conf", uncommented)});
    ASSERT_EQ(command.error, "");
    EXPECT_EQ(settings, serverOptionTable().size());
    const ServerOptions defaults;
    for (const ServerOption& option : serverOptionTable()) {
        std::string name = option.name;
        // Examples: these are empty by default.
        if (name != "token-file" && name != "tls-cert" && name != "tls-key") {
            EXPECT_EQ(option.show(command.options), option.show(defaults)) << name;
        }
    }
}

}  // namespace
