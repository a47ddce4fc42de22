// Whether a request's header frames its body unambiguously, decided before the body is read: a
// body that two readers could split differently lets a request hide in another's body behind a
// proxy. Such a request is refused with 400, and its connection closed.
#pragma once

#include <cstddef>
#include <string>

#include <boost/beast/http/fields.hpp>

// Why the header is refused, or empty when it is served: a Transfer-Encoding other than exactly
// `chunked` or in an HTTP/1.0 request, an HTTP/1.1 request without Host, or a request with more
// than one Host. Beast has
// refused a header with both Transfer-Encoding and Content-Length already.
std::string framingRefusal(const boost::beast::http::fields& header, unsigned version);

// Beast adds the trailer fields of a chunked body to the header's; only the header's first
// `headerFields` fields are kept, so that a trailer never stands in for a header field such as
// Authorization.
void dropTrailerFields(boost::beast::http::fields& fields, std::size_t headerFields);
