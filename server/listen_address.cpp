#include "server/listen_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {

bool parsePort(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    unsigned long value = std::stoul(text);
    if (value == 0 || value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

bool parseListenAddress(const std::string& text, ListenAddress& address, std::string& error) {
    std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        error = "\"" + text + "\" is not ADDRESS:PORT";
        return false;
    }
    std::string host = text.substr(0, colon);
    bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
    if (bracketed) {
        host = host.substr(1, host.size() - 2);
    }
    in_addr ipv4{};
    in6_addr ipv6{};
    bool numeric = bracketed ? inet_pton(AF_INET6, host.c_str(), &ipv6) == 1
                             : inet_pton(AF_INET, host.c_str(), &ipv4) == 1;
    if (!numeric) {
        error = "\"" + text +
                "\": the address must be a numeric IPv4 address or an IPv6 address in brackets";
        return false;
    }
    if (!parsePort(text.substr(colon + 1), address.port)) {
        error = "\"" + text + "\": the port must be a number from 1 to 65535";
        return false;
    }
    address.host = host;
    return true;
}

bool isLoopback(const std::string& host) {
    in_addr ipv4{};
    if (inet_pton(AF_INET, host.c_str(), &ipv4) == 1) {
        return (ntohl(ipv4.s_addr) >> 24) == 127;
    }
    in6_addr ipv6{};
    if (inet_pton(AF_INET6, host.c_str(), &ipv6) == 1) {
        if (IN6_IS_ADDR_V4MAPPED(&ipv6)) {
            return ipv6.s6_addr[12] == 127;
        }
        return IN6_IS_ADDR_LOOPBACK(&ipv6);
    }
    return false;
}
