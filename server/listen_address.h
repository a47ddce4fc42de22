// The ADDRESS:PORT usb3k-server listens on: a numeric IPv4 address or a bracketed IPv6 one
// (`127.0.0.1:8443`, `[::1]:8443`), never a host name, so that what is checked is what is bound.
#pragma once

#include <cstdint>
#include <string>

struct ListenAddress {
    // Without brackets: `127.0.0.1`, `::1`.
    std::string host;
    uint16_t port = 0;
};

// False with `error` saying what is wrong with `text`.
bool parseListenAddress(const std::string& text, ListenAddress& address, std::string& error);

// Whether the numeric address `host` reaches only this machine: 127.0.0.0/8, ::1, or an IPv4
// loopback address mapped into IPv6.
bool isLoopback(const std::string& host);
