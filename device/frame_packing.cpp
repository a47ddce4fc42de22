#include "device/frame_packing.h"

#include <array>

namespace {

constexpr int FIRST_CODEWORD_BIT = 7;
constexpr int PACKED_BITS = 56;

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

// What each value of each frame byte contributes to the 7 interleaved bytes, as a 56-bit number
// whose most significant bit is output position 0: the interleave becomes 7 lookups and ORs.
using ByteContributions = std::array<std::array<uint64_t, 256>, VCW_FRAME_SIZE>;

constexpr ByteContributions interleaveTable() {
    const std::array<uint8_t, CODEWORD_BITS> order = interleaveOrder();
    std::array<int, CODEWORD_BITS> positionOf{};
    for (int p = 0; p < CODEWORD_BITS; ++p) {
        positionOf[order[p]] = p;
    }
    ByteContributions table{};
    for (std::size_t byte = 0; byte < VCW_FRAME_SIZE; ++byte) {
        for (int value = 0; value < 256; ++value) {
            uint64_t bits = 0;
            for (int bit = 0; bit < 8; ++bit) {
                const int frameBit = static_cast<int>(byte) * 8 + bit;
                if (frameBit >= FIRST_CODEWORD_BIT && ((value >> (7 - bit)) & 1) != 0) {
                    bits |= uint64_t{1} << (PACKED_BITS - 1 - positionOf[frameBit - 7]);
                }
            }
            table[byte][value] = bits;
        }
    }
    return table;
}

constexpr ByteContributions INTERLEAVE_TABLE = interleaveTable();

// The 7 frame bytes as one big-endian number.
uint64_t frameBits(const uint8_t* frame) {
    uint64_t bits = 0;
    for (std::size_t i = 0; i < VCW_FRAME_SIZE; ++i) {
        bits = (bits << 8) | frame[i];
    }
    return bits;
}

// The low 56 bits of `bits`, big-endian, into 7 bytes.
void writeBits(uint64_t bits, uint8_t* out) {
    for (std::size_t i = 0; i < VCW_FRAME_SIZE; ++i) {
        out[i] = static_cast<uint8_t>(bits >> (8 * (VCW_FRAME_SIZE - 1 - i)));
    }
}

}  // namespace

void interleaveFrameInto(const uint8_t* frame, uint8_t* packed) {
    uint64_t bits = 0;
    for (std::size_t i = 0; i < VCW_FRAME_SIZE; ++i) {
        bits |= INTERLEAVE_TABLE[i][frame[i]];
    }
    packed[0] = CODEWORD_BITS;
    writeBits(bits, packed + 1);
}

std::vector<uint8_t> interleaveFrame(const uint8_t* frame) {
    std::vector<uint8_t> packed(VCW_FRAME_SIZE + 1);
    interleaveFrameInto(frame, packed.data());
    return packed;
}

void packFrameInto(const uint8_t* frame, uint8_t* packed) {
    // The 49 codeword bits move to the top of the 7 bytes; the last byte keeps only w48.
    writeBits(frameBits(frame) << FIRST_CODEWORD_BIT, packed);
}

std::vector<uint8_t> packFrame(int16_t length, const uint8_t* frame) {
    if (length < static_cast<int16_t>(VCW_FRAME_SIZE) || length > 4095) {
        return {};
    }
    std::vector<uint8_t> packed(static_cast<std::size_t>(length), 0);
    // Only the last 7 bytes of a longer frame hold codeword bits.
    packFrameInto(frame + (length - static_cast<int16_t>(VCW_FRAME_SIZE)), packed.data());
    return packed;
}
