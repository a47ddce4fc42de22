// usb3k-server's handling of what a client sends besides its frames: the request target split
// into path and query, the query of /v1/decode and /v1/stream, the whole-frames check of a body or
// message, and the JSON events that carry the device's lines back.
//
// Input: one byte choosing the check (its low two bits), then the text. For the events the text's
// lines are the concealed frame's lines and the first 8 bytes, little-endian, its index.
#include <boost/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "server/frame_input.h"
#include "server/json_texts.h"

namespace json = boost::json;

namespace {

void checkTarget(const std::string& target) {
    std::string_view path;
    std::string_view query;
    splitTarget(target, path, query);
    std::size_t mark = target.find('?');
    if (mark == std::string::npos) {
        FUZZ_CHECK(path == target && query.empty());
    } else {
        FUZZ_CHECK(std::string(path) + "?" + std::string(query) == target);
        FUZZ_CHECK(path.find('?') == std::string_view::npos);
    }
    for (bool allowFormat : {true, false}) {
        DecodeQuery decode;
        std::string error;
        bool ok = parseDecodeQuery(query, allowFormat, decode, error);
        FUZZ_CHECK(ok == error.empty());
        // A client cannot make the reason it reads in its 400 long.
        FUZZ_CHECK(error.size() <= 100);
        FUZZ_CHECK(!ok || allowFormat || decode.wav);
        FUZZ_CHECK(decode.device.size() <= query.size());
    }
    std::string frames = wholeFramesError("the body", target.size());
    FUZZ_CHECK(frames.empty() == (!target.empty() && target.size() % 7 == 0));
}

void checkEvents(const std::string& text) {
    uint64_t frame = 0;
    for (std::size_t i = 0; i < 8 && i < text.size(); ++i) {
        frame |= uint64_t{static_cast<uint8_t>(text[i])} << (8 * i);
    }
    std::vector<std::string> lines;
    std::size_t start = text.size() < 8 ? text.size() : 8;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    json::error_code ec;
    json::value concealed = json::parse(concealedEvent(frame, lines), ec);
    if (ec) {
        // Only text that is not UTF-8 may fail to come back, since JSON holds UTF-8 alone.
        return;
    }
    FUZZ_CHECK(concealed.at("event").as_string() == "concealed");
    FUZZ_CHECK(json::value_to<uint64_t>(concealed.at("frame")) == frame);
    const json::array& back = concealed.at("lines").as_array();
    FUZZ_CHECK(back.size() == lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        FUZZ_CHECK(std::string(back[i].as_string()) == lines[i]);
    }
    json::value away = json::parse(deviceEvent("away", lines.front(), frame), ec);
    FUZZ_CHECK(!ec);
    FUZZ_CHECK(std::string(away.at("serial").as_string()) == lines.front());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((data[0] & 3) == 3) {
        checkEvents(text);
    } else {
        checkTarget(text);
    }
    return 0;
}
