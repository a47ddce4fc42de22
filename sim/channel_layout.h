// Recovers the 49-bit codeword from the 8 bytes of a channel field. A codeword is held with w0 in
// bit 48 and w48 in bit 0.
#pragma once

#include <cstdint>

namespace sim {

constexpr int CODEWORD_BITS = 49;
constexpr uint8_t RATE34_BIT_COUNT = 49;

// Rate-34 layout: byte 0 is the bit count 49, then output position p (0..48) is bit 7 - (p mod 8)
// of byte 1 + p div 8, holding the codeword bits in a three-way interleave. False when the count
// byte is not 49 or a bit after position 48 is set.
bool codewordFromRate34Layout(const uint8_t channel[8], uint64_t& codeword);

// Plain layout: w0..w48 in order from bit 7 of byte 0 (w48 in bit 7 of byte 6), then a zero
// byte. False when a bit after w48 is set.
bool codewordFromPlainLayout(const uint8_t channel[8], uint64_t& codeword);

// The codeword bit k (0..48) that the rate-34 layout puts at output position p.
int rate34CodewordBitAt(int p);

}  // namespace sim
