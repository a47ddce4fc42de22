#include "sim/tone.h"

#include <array>

#include "sim/channel_layout.h"

namespace sim {
namespace {

constexpr uint32_t SAMPLE_RATE = 8000;

// round(32767 * sin(2 * pi * i / 256)) for i = 0..64: the first quarter of a 256-step sine.
constexpr int32_t QUARTER_SINE[65] = {
    0,     804,   1608,  2410,  3212,  4011,  4808,  5602,  6393,  7179,  7962,  8739,  9512,
    10278, 11039, 11793, 12539, 13279, 14010, 14732, 15446, 16151, 16846, 17530, 18204, 18868,
    19519, 20159, 20787, 21403, 22005, 22594, 23170, 23731, 24279, 24811, 25329, 25832, 26319,
    26790, 27245, 27683, 28105, 28510, 28898, 29268, 29621, 29956, 30273, 30571, 30852, 31113,
    31356, 31580, 31785, 31971, 32137, 32285, 32412, 32521, 32609, 32678, 32728, 32757, 32767};

constexpr int32_t sine256(uint32_t index) {
    const uint32_t quarter = (index >> 6) & 3;
    const uint32_t step = index & 63;
    switch (quarter) {
        case 0:
            return QUARTER_SINE[step];
        case 1:
            return QUARTER_SINE[64 - step];
        case 2:
            return -QUARTER_SINE[step];
        default:
            return -QUARTER_SINE[64 - step];
    }
}

// The whole wave unfolded once, at compile time, so that a sample costs one lookup.
constexpr std::array<int32_t, 256> fullSine() {
    std::array<int32_t, 256> table{};
    for (uint32_t i = 0; i < table.size(); ++i) {
        table[i] = sine256(i);
    }
    return table;
}
constexpr std::array<int32_t, 256> SINE = fullSine();

uint32_t codewordBit(uint64_t codeword, int k) {
    return static_cast<uint32_t>((codeword >> (48 - k)) & 1);
}

// w(first) .. w(first + count - 1) as a number, w(first) most significant.
uint32_t codewordBits(uint64_t codeword, int first, int count) {
    uint32_t value = 0;
    for (int k = first; k < first + count; ++k) {
        value = (value << 1) | codewordBit(codeword, k);
    }
    return value;
}

}  // namespace

void speechForCodeword(uint64_t codeword, uint8_t speech[SPEECH_BYTES]) {
    // The codeword picks the pitch, the loudness and the starting phase, so that different
    // codewords sound different; its bits also ride in the samples' least significant bits, so
    // that different codewords always give different blocks.
    const uint32_t frequency = 250 + 10 * codewordBits(codeword, 0, 8);
    const int32_t amplitude = 2048 + 512 * static_cast<int32_t>(codewordBits(codeword, 8, 4));
    const uint32_t step = static_cast<uint32_t>((uint64_t{frequency} << 32) / SAMPLE_RATE);
    uint32_t phase = codewordBits(codeword, 12, 8) << 24;

    int bit = 0;  // n mod 49: the codeword bit that rides in sample n
    for (std::size_t n = 0; n < SPEECH_SAMPLES; ++n) {
        // Integer division truncates toward zero on every platform.
        const int32_t value = amplitude * SINE[phase >> 24] / 32768;
        uint16_t sample = static_cast<uint16_t>(value);
        sample = static_cast<uint16_t>((sample & 0xFFFE) | codewordBit(codeword, bit));
        speech[2 * n] = static_cast<uint8_t>(sample >> 8);
        speech[2 * n + 1] = static_cast<uint8_t>(sample & 0xFF);
        bit = bit + 1 == CODEWORD_BITS ? 0 : bit + 1;
        phase += step;
    }
}

}  // namespace sim
