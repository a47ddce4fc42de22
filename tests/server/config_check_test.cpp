#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdlib>
#include <sstream>

#include "server/server_config.h"
#include "tests/server/temp_folder.h"
#include "tests/server/test_certificate.h"

namespace {

using testing::HasSubstr;

TEST(CheckConfig, ReportsWhatWouldBeServedAndEveryProblem) {
    ServerOptions options;
    options.queueTimeout = std::chrono::seconds(120);
    D2xxState d2xx;
    d2xx.usb3000s = 2;
    std::ostringstream report;
    EXPECT_TRUE(checkServerOptions(options, d2xx, report));
    EXPECT_THAT(report.str(),
                testing::StartsWith("usb3k-server would serve:\n"
                                    "  listen                     127.0.0.1:8443 (loopback); a "
                                    "socket from systemd replaces it\n"
                                    "  tls                        off: plain HTTP\n"
                                    "  tokens                     none: requests need no token\n"
                                    "  insecure                   false\n"
                                    "  queue-timeout              120s\n"));
    EXPECT_THAT(report.str(), testing::EndsWith("\n  max-queued                 64\n"
                                                "  d2xx                       loaded, 2 USB-3000s "
                                                "attached\n"
                                                "configuration ok\n"));

    TempFolder folder;
    makeCertificate(folder.file("server.pem"), folder.file("server.key"));
    makeCertificate(folder.file("other.pem"), folder.file("other.key"));
    options.listen = "0.0.0.0:8443";
    options.tlsCert = folder.file("server.pem");
    options.tlsKey = folder.file("server.key");
    options.tokenFile = folder.write("tokens", "live:s3cret\n");
    // A D2XX that fails is only a warning: the server starts without it.
    d2xx = {"FT_CreateDeviceInfoList failed: 4", "a cause", "a fix", 0};
    report.str("");
    EXPECT_TRUE(checkServerOptions(options, d2xx, report)) << report.str();
    EXPECT_THAT(report.str(), HasSubstr("\n  tls                        " + options.tlsCert +
                                        " (/CN=usb3k-test, valid until "));
    EXPECT_THAT(
        report.str(),
        testing::EndsWith("\n  d2xx                       FT_CreateDeviceInfoList failed: 4\n"
                          "warning: d2xx: the server would start but use no USB-3000; "
                          "likely cause: a cause; to fix: a fix\nconfiguration ok\n"));

    // Another certificate's key, and a token file others may read.
    options.tlsKey = folder.file("other.key");
    options.tokenFile = folder.write("shared-tokens", "live:s3cret\n", 0644);
    report.str("");
    EXPECT_FALSE(checkServerOptions(options, d2xx, report));
    EXPECT_THAT(report.str(), HasSubstr("\nerror: tls: " + options.tlsKey +
                                        ": not a PEM private key for this certificate: "));
    EXPECT_THAT(report.str(), HasSubstr("\nerror: token-file: token file " + options.tokenFile +
                                        ": its group or others may read or write it (mode 0644)"));
    EXPECT_THAT(report.str(), testing::EndsWith("\nconfiguration refused\n"));
}

TEST(CheckConfig, WarnsWhenTheConnectionsNeedMoreFileDescriptorsThanItMayOpen) {
    rlimit files{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    ASSERT_NE(files.rlim_cur, RLIM_INFINITY);
    ServerOptions options;
    options.maxUnauthenticated = 10;
    const std::string warning = "warning: max-connections: ";
    for (rlim_t connections : {files.rlim_cur - 74, files.rlim_cur - 73}) {
        options.maxConnections = connections;
        std::ostringstream report;
        EXPECT_TRUE(checkServerOptions(options, D2xxState{}, report));
        std::string expected = warning + std::to_string(connections) +
                               " connections, 10 unauthenticated and 64 to spare need " +
                               std::to_string(connections + 74) +
                               " file descriptors, but this process may open " +
                               std::to_string(files.rlim_cur) +
                               " (RLIMIT_NOFILE); raise LimitNOFILE or lower max-connections\n";
        if (connections + 74 > files.rlim_cur)
            EXPECT_THAT(report.str(), HasSubstr(expected));
        else
            EXPECT_THAT(report.str(), testing::Not(HasSubstr(warning)));
    }
}

}  // namespace
