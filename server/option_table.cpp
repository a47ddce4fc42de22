#include "server/option_table.h"

#include "server/listen_address.h"

namespace {

// A day: longer than any time-out worth setting, and far from overflowing anything.
constexpr long long kMaxSeconds = 24 * 60 * 60;
// Far beyond any sensible limit, and within a 32-bit size_t.
constexpr unsigned long long kMaxCount = 0xffffffffULL;

bool parseCount(const std::string& text, std::size_t& count) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    unsigned long long value = std::stoull(text);
    if (value == 0 || value > kMaxCount) {
        return false;
    }
    count = static_cast<std::size_t>(value);
    return true;
}

ServerOption text(const char* name, const char* valueName, const char* help,
                  std::string ServerOptions::*member) {
    return {name, valueName, help,
            [member](ServerOptions& options, const std::string& value, std::string&) {
                options.*member = value;
                return true;
            },
            [member](const ServerOptions& options) { return options.*member; }};
}

ServerOption duration(const char* name, const char* help,
                      std::chrono::seconds ServerOptions::*member) {
    return {name, "DURATION", help,
            [member](ServerOptions& options, const std::string& value, std::string& error) {
                if (!parseDuration(value, options.*member)) {
                    error = "\"" + value +
                            "\" is not a duration: seconds, or a number followed by s, m or h "
                            "(30, 30s, 2m), at most a day";
                    return false;
                }
                return true;
            },
            [member](const ServerOptions& options) { return showDuration(options.*member); }};
}

ServerOption count(const char* name, const char* valueName, const char* help,
                   std::size_t ServerOptions::*member) {
    return {name, valueName, help,
            [member](ServerOptions& options, const std::string& value, std::string& error) {
                if (!parseCount(value, options.*member)) {
                    error = "\"" + value + "\" is not a whole number from 1 to 4294967295";
                    return false;
                }
                return true;
            },
            [member](const ServerOptions& options) { return std::to_string(options.*member); }};
}

std::vector<ServerOption> makeTable() {
    std::vector<ServerOption> table;
    table.push_back({"listen", "ADDRESS:PORT", "where to listen when systemd passes no socket",
                     [](ServerOptions& options, const std::string& value, std::string& error) {
                         ListenAddress address;
                         if (!parseListenAddress(value, address, error)) {
                             return false;
                         }
                         options.listen = value;
                         return true;
                     },
                     [](const ServerOptions& options) { return options.listen; }});
    table.push_back(text("token-file", "FILE",
                         "bearer tokens, `name:token` a line; only the service may read it",
                         &ServerOptions::tokenFile));
    table.push_back(
        text("tls-cert", "FILE", "TLS certificate chain (PEM)", &ServerOptions::tlsCert));
    table.push_back(text("tls-key", "FILE", "TLS private key (PEM)", &ServerOptions::tlsKey));
    table.push_back(
        {"insecure", "", "serve an address other than loopback without TLS or tokens",
         [](ServerOptions& options, const std::string& value, std::string& error) {
             if (value == "true" || value == "yes" || value == "on" || value == "1") {
                 options.insecure = true;
             } else if (value == "false" || value == "no" || value == "off" || value == "0") {
                 options.insecure = false;
             } else {
                 error = "\"" + value + "\" is not true or false";
                 return false;
             }
             return true;
         },
         [](const ServerOptions& options) { return options.insecure ? "true" : "false"; }});
    table.push_back(duration("queue-timeout", "how long a request waits for a device, then 503",
                             &ServerOptions::queueTimeout));
    table.push_back(
        duration("idle-timeout", "a stream idle this long is closed", &ServerOptions::idleTimeout));
    table.push_back(duration("drain-timeout", "after SIGTERM, how long work in progress may go on",
                             &ServerOptions::drainTimeout));
    table.push_back(duration("reconnect-timeout", "how long to wait for an unplugged device",
                             &ServerOptions::reconnectTimeout));
    table.push_back(duration("read-timeout", "a client that sends nothing this long is dropped",
                             &ServerOptions::readTimeout));
    table.push_back(duration("write-timeout", "a client that reads nothing this long is dropped",
                             &ServerOptions::writeTimeout));
    table.push_back(duration("header-timeout",
                             "a client without a token has this long to send its header",
                             &ServerOptions::headerTimeout));
    table.push_back(
        count("max-header-bytes", "N", "largest request header", &ServerOptions::maxHeaderBytes));
    table.push_back(
        count("max-body-bytes", "N", "largest POST body", &ServerOptions::maxBodyBytes));
    table.push_back(count("max-message-frames", "N", "most frames in one WebSocket message",
                          &ServerOptions::maxMessageFrames));
    table.push_back(count("max-in-flight", "N", "WebSocket messages a stream may have unanswered",
                          &ServerOptions::maxInFlight));
    table.push_back(count("max-connections", "N", "authorized connections at once",
                          &ServerOptions::maxConnections));
    table.push_back(count("max-connections-per-token", "N", "connections at once per token",
                          &ServerOptions::maxConnectionsPerToken));
    table.push_back(count("max-unauthenticated", "N",
                          "connections no token has authorized yet; the oldest makes room",
                          &ServerOptions::maxUnauthenticated));
    table.push_back(count("max-connections-per-address", "N",
                          "unauthorized connections from one client address",
                          &ServerOptions::maxConnectionsPerAddress));
    table.push_back(count("max-queued", "N", "requests and streams waiting for a device",
                          &ServerOptions::maxQueued));
    return table;
}

}  // namespace

const std::vector<ServerOption>& serverOptionTable() {
    static const std::vector<ServerOption> table = makeTable();
    return table;
}

const ServerOption* findServerOption(const std::string& name) {
    for (const ServerOption& option : serverOptionTable()) {
        if (name == option.name) {
            return &option;
        }
    }
    return nullptr;
}

bool parseDuration(const std::string& text, std::chrono::seconds& duration) {
    std::size_t end = text.find_first_not_of("0123456789");
    std::string number = text.substr(0, end);
    std::string unit = end == std::string::npos ? "" : text.substr(end);
    if (number.empty() || number.size() > 6) {
        return false;
    }
    long long value = std::stoll(number);
    if (unit == "m") {
        value *= 60;
    } else if (unit == "h") {
        value *= 60 * 60;
    } else if (!unit.empty() && unit != "s") {
        return false;
    }
    if (value > kMaxSeconds) {
        return false;
    }
    duration = std::chrono::seconds(value);
    return true;
}

std::string showDuration(std::chrono::seconds duration) {
    return std::to_string(duration.count()) + "s";
}
