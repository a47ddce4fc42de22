#include "sim/transcript.h"

#include "sim/wire_format.h"

namespace sim {

std::string hexList(const uint8_t* bytes, std::size_t count) {
    std::string text;
    text.reserve(3 * count);
    for (std::size_t i = 0; i < count; ++i) {
        text += ' ';
        text += hexByte(bytes[i]);
    }
    return text;
}

std::string deviceName(const Device* device) {
    return device != nullptr ? device->serial : "?";
}

}  // namespace sim
