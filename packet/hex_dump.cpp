#include "packet/hex_dump.h"

std::string hexDump(const char* prefix, const uint8_t* bytes, std::size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text(prefix);
    text.reserve(text.size() + count * 3 + 1);
    for (std::size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
        text += ' ';
    }
    text += '\n';
    return text;
}
