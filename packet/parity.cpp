#include "packet/parity.h"

#include <cstring>

namespace {

uint64_t wordAt(const uint8_t* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

}  // namespace

uint8_t parityOf(const uint8_t* bytes, std::size_t from, std::size_t to) {
    // Four words a round: a speech answer takes ten rounds and a few bytes.
    uint64_t words = 0;
    std::size_t i = from;
    for (; i + 32 <= to; i += 32) {
        words ^= wordAt(bytes + i) ^ wordAt(bytes + i + 8) ^ wordAt(bytes + i + 16) ^
                 wordAt(bytes + i + 24);
    }
    for (; i + 8 <= to; i += 8) {
        words ^= wordAt(bytes + i);
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
