// usb3k-server's reading of raw requests on loopback: a body whose framing two readers could
// split differently is refused before it is read, so that no request hides in another's body; a
// trailer never stands in for the header; and a client's text reaches the log escaped and cut.
#include <gtest/gtest.h>

#include <boost/asio/write.hpp>

#include <regex>

#include "tests/server/server_test_support.h"

namespace {

struct RawAnswer {
    std::string bytes;
    bool ended = false;  // the server closed the connection
};

RawAnswer rawExchange(uint16_t port, const std::string& request) {
    RawAnswer answer;
    answer.bytes = rawUntilClose(port, request, answer.ended);
    return answer;
}

// How many answers `bytes` holds: lines that begin with a status line's "HTTP/1.".
std::size_t statusLines(const std::string& bytes) {
    std::size_t count = bytes.rfind("HTTP/1.", 0) == 0 ? 1 : 0;
    for (std::size_t at = bytes.find("\nHTTP/1."); at != std::string::npos;
         at = bytes.find("\nHTTP/1.", at + 1))
        ++count;
    return count;
}

TEST_F(ServerTest, RefusesAmbiguousFramingBeforeTheBodyAndClosesTheConnection) {
    start();
    const std::string auth = "Authorization: Bearer " + TOKEN + "\r\n";
    struct Row {
        std::string request;
        std::string statusLine;
        std::string body;
    };
    const std::vector<Row> rows{
        {"POST /v1/decode HTTP/1.1\r\nHost: a\r\n" + auth +
             "Transfer-Encoding: xchunked\r\n\r\n0\r\n\r\n",
         "HTTP/1.1 400 Bad Request", "the transfer coding xchunked is not supported: only chunked"},
        // The body is a second request: it is never answered.
        {"POST /v1/decode HTTP/1.1\r\nHost: a\r\n" + auth +
             "Transfer-Encoding: gzip\r\n\r\nGET /healthz HTTP/1.1\r\nHost: a\r\n\r\n",
         "HTTP/1.1 400 Bad Request", "the transfer coding gzip is not supported: only chunked"},
        {"GET /healthz HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: identity\r\n\r\n",
         "HTTP/1.1 400 Bad Request", "the transfer coding identity is not supported: only chunked"},
        {"GET /healthz HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked, identity\r\n\r\n",
         "HTTP/1.1 400 Bad Request",
         "the Transfer-Encoding \"chunked, identity\" is not supported: only chunked"},
        {"GET /healthz HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: gzip\r\n"
         "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
         "HTTP/1.1 400 Bad Request",
         "the Transfer-Encoding \"gzip, chunked\" is not supported: only chunked"},
        {"GET /healthz HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\nContent-Length: 5\r\n"
         "\r\n0\r\n\r\n",
         "HTTP/1.1 400 Bad Request", "malformed HTTP request: bad Content-Length"},
        {"GET /healthz HTTP/1.1\r\nHost: a\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n"
         "\r\n0\r\n\r\n",
         "HTTP/1.1 400 Bad Request", "malformed HTTP request: bad Transfer-Encoding"},
        {"GET /healthz HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
         "HTTP/1.1 400 Bad Request", "the transfer coding chunked needs HTTP/1.1"},
        {"GET /healthz HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request",
         "the request has no Host header"},
        {"GET /healthz HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", "HTTP/1.1 400 Bad Request",
         "the request has more than one Host header"},
        // Served: HTTP/1.0 needs no Host, and chunked in any case with spaces is chunked.
        {"GET /healthz HTTP/1.0\r\n\r\n", "HTTP/1.0 200 OK", "alive"},
        {"GET /healthz HTTP/1.1\r\nHost: a\r\nTransfer-Encoding:  Chunked \r\n"
         "Connection: close\r\n\r\n0\r\n\r\n",
         "HTTP/1.1 200 OK", "alive"},
        // A token in the trailer is not the header's.
        {"GET /v1/devices HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n"
         "Connection: close\r\n\r\n0\r\n" +
             auth + "\r\n",
         "HTTP/1.1 401 Unauthorized",
         "a valid bearer token is needed (Authorization: Bearer TOKEN)"},
    };
    for (const Row& row : rows) {
        RawAnswer answer = rawExchange(port_, row.request);
        EXPECT_EQ(answer.bytes.substr(0, answer.bytes.find("\r\n")), row.statusLine) << row.request;
        std::size_t body = answer.bytes.find("\r\n\r\n");
        EXPECT_EQ(body == std::string::npos ? "" : answer.bytes.substr(body + 4), row.body + "\n")
            << row.request;
        EXPECT_EQ(statusLines(answer.bytes), 1u) << "one answer only: " << answer.bytes;
        EXPECT_TRUE(answer.ended) << row.request;
    }
    EXPECT_EQ(pool_->framesDecoded, 0u);
}

// The server's log lines for requests whose serial number or path hold a forged line, a NUL, a
// byte that is not UTF-8 and a backslash, or run long; their durations written as "D".
TEST_F(ServerTest, EscapesAndCutsAClientsTextInTheLog) {
    start();
    Connection client(port_);
    std::string prefix = "usb3k-server: 127.0.0.1:" +
                         std::to_string(client.stream().socket().local_endpoint().port()) +
                         " token=alice ";
    testing::internal::CaptureStderr();
    Response forged = client.send(
        http::verb::post, "/v1/decode?device=%0D%0Ausb3k-server:%20FORGED%00%1B%7F%C3%A9%FF%5C",
        frames(1));
    client.send(http::verb::post, "/v1/decode?device=" + std::string(5000, 'S'), frames(1));
    client.send(http::verb::get, "/v1/\xC3\xA9\xFF\\" + std::string(300, 'p'));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(forged.result_int(), 404);
    const std::string end = " frames=0 concealed=0 duration=Ds outcome=404\n";
    EXPECT_EQ(std::regex_replace(log, std::regex("duration=[0-9.]+s"), "duration=Ds"),
              prefix +
                  "POST /v1/decode "
                  "device=\\x0D\\x0Ausb3k-server:\\x20FORGED\\x00\\x1B\\x7F\xC3\xA9\\xFF\\\\" +
                  end + prefix + "POST /v1/decode device=" + std::string(64, 'S') + "..." + end +
                  prefix + "GET /v1/\xC3\xA9\\xFF\\\\" + std::string(249, 'p') + "... device=-" +
                  end);
}

}  // namespace
