#include "server/frame_input.h"

#include "device/frame_packing.h"

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Percent-decodes a query component ('+' is a space); false for a broken escape.
bool unescape(std::string_view in, std::string& out) {
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= in.size())
                return false;
            int high = hexValue(in[i + 1]);
            int low = hexValue(in[i + 2]);
            if (high < 0 || low < 0)
                return false;
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += c;
        }
    }
    return true;
}

}  // namespace

void splitTarget(std::string_view target, std::string_view& path, std::string_view& query) {
    std::size_t mark = target.find('?');
    path = target.substr(0, mark);
    query = mark == std::string_view::npos ? std::string_view() : target.substr(mark + 1);
}

bool parseDecodeQuery(std::string_view query, bool allowFormat, DecodeQuery& out,
                      std::string& error) {
    out = DecodeQuery();
    bool seenDevice = false;
    bool seenFormat = false;
    while (!query.empty()) {
        std::size_t amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty())
            continue;
        std::size_t eq = pair.find('=');
        std::string name;
        std::string value;
        if (!unescape(pair.substr(0, eq), name) ||
            !unescape(eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1),
                      value)) {
            error = "a query parameter has a broken %-escape";
            return false;
        }
        if (name == "device") {
            if (seenDevice) {
                error = "the parameter device is given twice";
                return false;
            }
            if (value.empty()) {
                error = "the parameter device needs a serial number";
                return false;
            }
            seenDevice = true;
            out.device = value;
        } else if (name == "format" && allowFormat) {
            if (seenFormat) {
                error = "the parameter format is given twice";
                return false;
            }
            if (value != "wav" && value != "pcm") {
                error = "the parameter format is wav or pcm";
                return false;
            }
            seenFormat = true;
            out.wav = value == "wav";
        } else {
            error = "unknown query parameter: " + name.substr(0, 64);
            return false;
        }
    }
    return true;
}

std::string wholeFramesError(const char* what, std::size_t bytes) {
    if (bytes == 0)
        return std::string(what) + " holds no frame";
    if (bytes % VCW_FRAME_SIZE != 0) {
        return std::string(what) + " is " + std::to_string(bytes) +
               " bytes, not a whole number of 7-byte VCW frames";
    }
    return std::string();
}
