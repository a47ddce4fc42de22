// What a client sends usb3k-server besides its token: the query of /v1/decode and /v1/stream, and
// bodies and messages of VCW frames. Each check gives the reason a client reads in its 400 or
// close.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct DecodeQuery {
    // The serial number the client asks for; empty: any free ready device.
    std::string device;
    // A WAV header before the speech, or raw little-endian samples (format=pcm).
    bool wav = true;
};

// Splits a request target into its path and its query (without the '?').
void splitTarget(std::string_view target, std::string_view& path, std::string_view& query);

// The query of /v1/decode (`device`, `format`) or, with `allowFormat` false, of /v1/stream
// (`device` only). False with `error` set for an unknown, repeated or empty parameter or a bad
// value.
bool parseDecodeQuery(std::string_view query, bool allowFormat, DecodeQuery& out,
                      std::string& error);

// Empty when `bytes` are one or more whole 7-byte frames; otherwise why not, naming `what` ("the
// body", "the message").
std::string wholeFramesError(const char* what, std::size_t bytes);
