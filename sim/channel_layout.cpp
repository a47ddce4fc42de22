#include "sim/channel_layout.h"

namespace sim {
namespace {

bool bitAt(const uint8_t* bytes, int position) {
    return (bytes[position / 8] >> (7 - position % 8)) & 1;
}

void setCodewordBit(uint64_t& codeword, int k) {
    codeword |= uint64_t{1} << (48 - k);
}

// True when every bit in positions [from, to) is zero.
bool zeroBits(const uint8_t* bytes, int from, int to) {
    for (int p = from; p < to; ++p) {
        if (bitAt(bytes, p)) {
            return false;
        }
    }
    return true;
}

}  // namespace

int rate34CodewordBitAt(int p) {
    // Positions 0..38 rotate through the three groups w0..w17, w18..w35, w36..w48; once the third
    // group is used up, positions 39..48 alternate between the first two.
    if (p < 39) {
        const int t = p / 3;
        return p % 3 == 0 ? t : p % 3 == 1 ? 18 + t : 36 + t;
    }
    const int u = 13 + (p - 39) / 2;
    return (p - 39) % 2 == 0 ? u : 18 + u;
}

bool codewordFromRate34Layout(const uint8_t channel[8], uint64_t& codeword) {
    if (channel[0] != RATE34_BIT_COUNT || !zeroBits(channel + 1, CODEWORD_BITS, 56)) {
        return false;
    }
    codeword = 0;
    for (int p = 0; p < CODEWORD_BITS; ++p) {
        if (bitAt(channel + 1, p)) {
            setCodewordBit(codeword, rate34CodewordBitAt(p));
        }
    }
    return true;
}

bool codewordFromPlainLayout(const uint8_t channel[8], uint64_t& codeword) {
    if (!zeroBits(channel, CODEWORD_BITS, 64)) {
        return false;
    }
    codeword = 0;
    for (int k = 0; k < CODEWORD_BITS; ++k) {
        if (bitAt(channel, k)) {
            setCodewordBit(codeword, k);
        }
    }
    return true;
}

}  // namespace sim
