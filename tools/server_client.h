// One HTTP request to a usb3k-server and its answer, for the probe. Plain types only: everything
// of the network (Boost.Beast, Boost.Asio, OpenSSL) stays in server_client.cpp, the one heavy
// translation unit of the probe.
#pragma once

#include <cstddef>
#include <string>

#include "tools/server_uri.h"

struct ServerRequest {
    bool post = false;   // POST with `body`, else GET
    std::string target;  // after the base path: "v1/devices", "v1/decode?format=pcm"
    std::string body;
    std::size_t maxAnswerBytes = 1024 * 1024;  // a longer answer body fails the exchange
};

struct ServerAnswer {
    enum class Outcome {
        Answered,     // `status`, `body` and the trailers are the server's
        Unreachable,  // no connection: refused, no route, no such host, or the connect time-out
        NotTrusted,   // the TLS handshake failed: the certificate or its name was not accepted
        Failed,       // the connection broke, or no byte came for the read time-out
        BadCaFile,    // the --ca-file could not be loaded
    };
    Outcome outcome = Outcome::Failed;
    std::string error;  // for every outcome but Answered: what went wrong, as one line
    unsigned status = 0;
    std::string body;
    std::string framesConcealed;  // the trailer Usb3k-Frames-Concealed, when sent
    // The connection closed before the answer's end: `body` is what came, which the server ends so
    // when it cuts a decode short.
    bool cutShort = false;
};

// How long the connection may take to open; and how long the server may send nothing while an
// answer is awaited, longer than the server's default queue time-out (30 s), so that a request
// that waits for a device gets the server's own answer.
constexpr int CONNECT_TIMEOUT_SECONDS = 10;
constexpr int READ_TIMEOUT_SECONDS = 60;

// Sends `request` with `Authorization: Bearer token` (and `TE: trailers` for a POST, whose answer
// ends with trailer fields then) on a new connection and reads the answer.
// Over https://, the server's certificate is verified against the system's trust store, and
// `caFile` (PEM) too when it is not empty, and must name the URI's host. Never throws.
ServerAnswer askServer(const ServerUri& uri, const std::string& token, const std::string& caFile,
                       const ServerRequest& request);
