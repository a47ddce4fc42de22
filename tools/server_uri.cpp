#include "tools/server_uri.h"

namespace {

bool digitsOnly(const std::string& text) {
    return !text.empty() && text.size() <= 5 && text.find_first_not_of("0123456789") == text.npos;
}

}  // namespace

bool parseServerUri(const std::string& text, ServerUri& uri, std::string& error) {
    const std::string wanted =
        "the server is http://HOST[:PORT] or https://HOST[:PORT], not '" + text + "'";
    std::size_t at = 0;
    if (text.compare(0, 7, "http://") == 0) {
        uri.tls = false;
        at = 7;
    } else if (text.compare(0, 8, "https://") == 0) {
        uri.tls = true;
        at = 8;
    } else {
        error = wanted;
        return false;
    }
    const std::size_t pathAt = text.find('/', at);
    const std::string authority = text.substr(at, pathAt - at);
    std::string path = pathAt == text.npos ? "/" : text.substr(pathAt);
    // User information, a query and a fragment have no meaning for the server.
    if (authority.empty() || authority.find('@') != authority.npos ||
        path.find_first_of("?#") != path.npos) {
        error = wanted;
        return false;
    }
    std::string port;
    if (authority.front() == '[') {
        const std::size_t close = authority.find(']');
        if (close == authority.npos || close == 1) {
            error = wanted;
            return false;
        }
        uri.host = authority.substr(1, close - 1);
        const std::string rest = authority.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || !digitsOnly(port = rest.substr(1)))) {
            error = wanted;
            return false;
        }
    } else {
        const std::size_t colon = authority.find(':');
        uri.host = authority.substr(0, colon);
        if (uri.host.empty() ||
            (colon != authority.npos && !digitsOnly(port = authority.substr(colon + 1)))) {
            error = wanted;
            return false;
        }
    }
    if (!port.empty() && (std::stoul(port) == 0 || std::stoul(port) > 65535)) {
        error = wanted;
        return false;
    }
    uri.port = port.empty() ? (uri.tls ? "443" : "80") : port;
    if (path.back() != '/') {
        path += '/';
    }
    uri.basePath = path;
    uri.text = text.substr(0, at) + authority + path;
    return true;
}
