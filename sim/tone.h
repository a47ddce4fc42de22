// The speech the emulated device answers for a codeword: a short tone computed with integer
// arithmetic only, so that every platform produces the same bytes. sim/README.md gives the mapping.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

constexpr std::size_t SPEECH_SAMPLES = 160;
constexpr std::size_t SPEECH_BYTES = 2 * SPEECH_SAMPLES;

// 160 samples of 16 bits, each written high byte first, for a codeword with w0 in bit 48.
void speechForCodeword(uint64_t codeword, uint8_t speech[SPEECH_BYTES]);

}  // namespace sim
