#include "packet/parity.h"

#include <cstring>

uint8_t parityOf(const uint8_t* bytes, std::size_t from, std::size_t to) {
    uint64_t words = 0;
    std::size_t i = from;
    for (; i + sizeof words <= to; i += sizeof words) {
        uint64_t word;
        std::memcpy(&word, bytes + i, sizeof word);
        words ^= word;
    }
    // The exclusive-or of the eight lanes is the exclusive-or of every byte they took in.
    words ^= words >> 32;
    words ^= words >> 16;
    words ^= words >> 8;
    auto parity = static_cast<uint8_t>(words);
    for (; i < to; ++i) {
        parity ^= bytes[i];
    }
    return parity;
}
