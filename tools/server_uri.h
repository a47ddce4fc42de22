// The address of a usb3k-server as the probe is given it.
#pragma once

#include <string>

// http://HOST[:PORT][/PATH] or https://...
struct ServerUri {
    bool tls = false;
    std::string host;      // a name, an IPv4 address, or an IPv6 address without its brackets
    std::string port;      // 80 or 443 when the URI names none
    std::string basePath;  // starts and ends with '/': the requests' paths follow it
    std::string text;      // scheme://authority/basePath, as the report names the server
};

// Reads `text` into `uri`; false with `error` saying what is wrong with it.
bool parseServerUri(const std::string& text, ServerUri& uri, std::string& error);
