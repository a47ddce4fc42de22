#include "sim/transcript.h"

#include <cstdio>

namespace sim {

std::string hexList(const uint8_t* bytes, std::size_t count) {
    std::string text;
    text.reserve(3 * count);
    char pair[4];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, " %02x", bytes[i]);
        text += pair;
    }
    return text;
}

void record(State& state, const std::string& line) {
    if (state.recording) {
        state.transcript += line;
        state.transcript += '\n';
    }
}

std::string deviceName(const Device* device) {
    return device != nullptr ? device->serial : "?";
}

}  // namespace sim
