#include "packet/hex_dump.h"

namespace {

constexpr char DIGITS[] = "0123456789abcdef";

}  // namespace

std::string hexByte(uint8_t byte) {
    return {DIGITS[byte >> 4], DIGITS[byte & 0x0F]};
}

std::string hexDump(const char* prefix, const uint8_t* bytes, std::size_t count) {
    std::string text(prefix);
    text.reserve(text.size() + count * 3 + 1);
    for (std::size_t i = 0; i < count; ++i) {
        text += DIGITS[bytes[i] >> 4];
        text += DIGITS[bytes[i] & 0x0F];
        text += ' ';
    }
    text += '\n';
    return text;
}
