#include "device/frame_packing.h"

#include <array>

namespace {

// Frame bit n is bit 7 - (n mod 8) of byte n div 8.
bool frameBit(const uint8_t* frame, int n) {
    return ((frame[n / 8] >> (7 - n % 8)) & 1) != 0;
}

// Codeword bit w(k) for each output position p of the rate-34 layout: three groups of 18, 18 and
// 13 bits taken in rotation, then the first two groups alternating once the third is used up.
constexpr std::array<uint8_t, CODEWORD_BITS> interleaveOrder() {
    std::array<uint8_t, CODEWORD_BITS> order{};
    for (int p = 0; p < CODEWORD_BITS; ++p) {
        if (p < 39) {
            const int t = p / 3;
            order[p] = static_cast<uint8_t>(p % 3 == 0 ? t : p % 3 == 1 ? 18 + t : 36 + t);
        } else {
            const int u = 13 + (p - 39) / 2;
            order[p] = static_cast<uint8_t>((p - 39) % 2 == 0 ? u : 18 + u);
        }
    }
    return order;
}

constexpr std::array<uint8_t, CODEWORD_BITS> INTERLEAVE_ORDER = interleaveOrder();
constexpr int FIRST_CODEWORD_BIT = 7;

}  // namespace

std::vector<uint8_t> interleaveFrame(const uint8_t* frame) {
    std::vector<uint8_t> packed(8, 0);
    packed[0] = CODEWORD_BITS;
    for (int p = 0; p < CODEWORD_BITS; ++p) {
        if (frameBit(frame, FIRST_CODEWORD_BIT + INTERLEAVE_ORDER[p])) {
            packed[1 + p / 8] |= static_cast<uint8_t>(0x80 >> (p % 8));
        }
    }
    return packed;
}

std::vector<uint8_t> packFrame(int16_t length, const uint8_t* frame) {
    if (length < static_cast<int16_t>(VCW_FRAME_SIZE) || length > 4095) {
        return {};
    }
    std::vector<uint8_t> packed(static_cast<std::size_t>(length), 0);
    const int start = length * 8 - CODEWORD_BITS;
    for (int k = 0; k < CODEWORD_BITS; ++k) {
        if (frameBit(frame, start + k)) {
            packed[k / 8] |= static_cast<uint8_t>(0x80 >> (k % 8));
        }
    }
    return packed;
}
