// What usb3k-server is told: the same names on the command line (`--listen 127.0.0.1:8443`) and in
// /etc/usb3k/server.conf (`listen = 127.0.0.1:8443`), the command line winning. Every limit has a
// default here, its one home.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

struct ServerOptions {
    // ADDRESS:PORT to listen on, when systemd passes no socket.
    std::string listen = "127.0.0.1:8443";
    // One token a line, `name:token` or `token`; empty: no tokens (loopback or --insecure only).
    std::string tokenFile;
    // PEM files; both empty: plain HTTP (loopback or --insecure only).
    std::string tlsCert;
    std::string tlsKey;
    // Serve on an address other than loopback without TLS or without tokens.
    bool insecure = false;

    // How long a request or stream waits in the queue for a device, before 503 with Retry-After.
    std::chrono::seconds queueTimeout{30};
    // A stream that sends no frames for this long is closed and its device freed.
    std::chrono::seconds idleTimeout{60};
    // After SIGTERM, how long work in progress may go on before it is closed.
    std::chrono::seconds drainTimeout{30};
    // How long a request or stream waits for its unplugged device to be attached again.
    std::chrono::seconds reconnectTimeout{30};
    // A client that sends nothing of a request, or reads nothing of an answer, for this long is
    // disconnected.
    std::chrono::seconds readTimeout{30};
    std::chrono::seconds writeTimeout{30};
    // A connection not yet authorized must have sent its request's whole header within this long
    // of its opening (or, after a probe's answer, of that answer), else it is closed.
    std::chrono::seconds headerTimeout{10};

    std::size_t maxHeaderBytes = 8 * 1024;
    // A POST body: 16 MiB is over 2.3 million frames, more than 12 hours of speech.
    std::size_t maxBodyBytes = 16 * 1024 * 1024;
    // A WebSocket message: 1 to this many whole frames.
    std::size_t maxMessageFrames = 250;
    // WebSocket messages a stream has read and not yet answered; reading stops at this many.
    std::size_t maxInFlight = 4;
    // Connections whose request a token has authorized.
    std::size_t maxConnections = 256;
    std::size_t maxConnectionsPerToken = 32;
    // Connections no token has authorized yet (probes among them), in all and from one client
    // address: a new one closes the oldest when either is full.
    std::size_t maxUnauthenticated = 64;
    std::size_t maxConnectionsPerAddress = 32;
    // Requests and streams waiting for a device, across all tokens.
    std::size_t maxQueued = 64;
};
