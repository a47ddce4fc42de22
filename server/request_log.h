// One line on standard error for each request and stream usb3k-server serves, written when it
// ends: the client, the token's name (never the token), the device, the frames and concealed
// frames, the duration and the outcome.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

struct RequestLog {
    std::string client;
    std::string tokenName = "-";
    std::string what;  // "GET /v1/devices", "stream", ...
    std::string device = "-";
    uint64_t frames = 0;
    uint64_t concealed = 0;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    // Writes the line with `outcome` ("200", "1000 closed by the client", ...).
    void write(const std::string& outcome) const;
};

// A line of the server's own (start, warnings, drain), on standard error.
void logServer(const std::string& message);
