#include "fuzz/hex_dump_check.h"

#include <cstring>

namespace {

// The value of a lowercase hex digit, or -1 for anything else (uppercase included).
int digitValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    return -1;
}

}  // namespace

bool isHexDumpOf(const std::string& text, const char* prefix, const uint8_t* bytes,
                 std::size_t count) {
    const std::size_t prefixSize = std::strlen(prefix);
    if (text.size() != prefixSize + 3 * count + 1 || text.compare(0, prefixSize, prefix) != 0 ||
        text.back() != '\n') {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = prefixSize + 3 * i;
        const int high = digitValue(text[at]);
        const int low = digitValue(text[at + 1]);
        if (high < 0 || low < 0 || text[at + 2] != ' ' || (high << 4 | low) != bytes[i]) {
            return false;
        }
    }
    return true;
}
