#include "server/request_framing.h"

#include <iterator>

#include <boost/beast/core/string.hpp>
#include <boost/beast/http/rfc7230.hpp>

namespace http = boost::beast::http;

std::string framingRefusal(const http::fields& header, unsigned version) {
    auto codings = header.equal_range(http::field::transfer_encoding);
    if (codings.first != codings.second) {
        std::string value;
        for (auto field = codings.first; field != codings.second; ++field) {
            if (!value.empty())
                value += ", ";
            value.append(field->value().data(), field->value().size());
        }
        // Beast strips the spaces around a field's value.
        if (!boost::beast::iequals(value, "chunked")) {
            http::token_list list(value);
            if (std::distance(list.begin(), list.end()) == 1 && *list.begin() == value)
                return "the transfer coding " + value + " is not supported: only chunked";
            return "the Transfer-Encoding \"" + value + "\" is not supported: only chunked";
        }
        // A client or proxy of HTTP/1.0 knows no transfer coding, and would read the body
        // otherwise.
        if (version < 11)
            return "the transfer coding chunked needs HTTP/1.1";
    }
    std::size_t hosts = header.count(http::field::host);
    if (hosts == 0 && version >= 11)
        return "the request has no Host header";
    if (hosts > 1)
        return "the request has more than one Host header";
    return {};
}

void dropTrailerFields(http::fields& fields, std::size_t headerFields) {
    auto field = fields.begin();
    for (std::size_t kept = 0; kept < headerFields && field != fields.end(); ++kept) ++field;
    while (field != fields.end()) field = fields.erase(field);
}
