#include <gtest/gtest.h>

#include <algorithm>

#include "bytes.h"
#include "device/frame_packing.h"

namespace {

std::string interleaved(const char* frame) {
    return hexText(interleaveFrame(hexBytes(frame).data()));
}

std::string packed(const char* frame) {
    return hexText(packFrame(7, hexBytes(frame).data()));
}

TEST(InterleaveFrame, KnownFrames) {
    EXPECT_EQ(interleaved("00 00 00 00 00 00 00"), "31 00 00 00 00 00 00 00");
    // The top seven bits of byte 0 are not part of the codeword.
    EXPECT_EQ(interleaved("fe 00 00 00 00 00 00"), "31 00 00 00 00 00 00 00");
    EXPECT_EQ(interleaved("ff ff ff ff ff ff ff"), "31 ff ff ff ff ff ff 80");
    EXPECT_EQ(interleaved("01 00 00 00 00 00 00"), "31 80 00 00 00 00 00 00");  // w0
    EXPECT_EQ(interleaved("00 00 00 40 00 00 00"), "31 40 00 00 00 00 00 00");  // w18
    EXPECT_EQ(interleaved("00 00 00 00 00 00 01"), "31 00 00 00 00 02 00 00");  // w48
    EXPECT_EQ(interleaved("01 23 45 67 89 ab cd"), "31 cc 56 de 86 a2 6c 80");
}

// Every codeword bit lands in exactly one output position, and a different one for each bit.
TEST(InterleaveFrame, IsAPermutationOfTheCodewordBits) {
    std::vector<int> seen(49, 0);
    for (int k = 0; k < 49; ++k) {
        uint8_t frame[7] = {};
        const int n = k + 7;
        frame[n / 8] = static_cast<uint8_t>(0x80 >> (n % 8));
        const std::vector<uint8_t> out = interleaveFrame(frame);
        ASSERT_EQ(out.size(), 8u);
        int ones = 0;
        int position = -1;
        for (int p = 0; p < 56; ++p) {
            if (out[1 + p / 8] & (0x80 >> (p % 8))) {
                ++ones;
                position = p;
            }
        }
        ASSERT_EQ(ones, 1) << "w" << k;
        ASSERT_LT(position, 49);
        ++seen[position];
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 49);
}

// The interleave as its rule states it, one bit at a time: output position p holds w(t), w(18+t) or
// w(36+t) for p below 39, then w(u) and w(18+u) alternating.
std::vector<uint8_t> interleavedBitByBit(const uint8_t* frame) {
    std::vector<uint8_t> out(8, 0);
    out[0] = 49;
    for (int p = 0; p < 49; ++p) {
        const int k = p < 39 ? (p % 3) * 18 + p / 3 : ((p - 39) % 2) * 18 + 13 + (p - 39) / 2;
        const int n = k + 7;
        if ((frame[n / 8] >> (7 - n % 8)) & 1) {
            out[1 + p / 8] |= static_cast<uint8_t>(0x80 >> (p % 8));
        }
    }
    return out;
}

TEST(InterleaveFrame, MatchesTheBitByBitRuleForRandomFrames) {
    uint32_t state = 12345;
    uint8_t frame[7];
    for (int i = 0; i < 200000; ++i) {
        for (uint8_t& byte : frame) {
            state = state * 1664525u + 1013904223u;
            byte = static_cast<uint8_t>(state >> 24);
        }
        ASSERT_EQ(interleaveFrame(frame), interleavedBitByBit(frame))
            << hexText({frame, frame + 7});
    }
}

TEST(PackFrame, KeepsTheCodewordBitsInOrder) {
    EXPECT_EQ(packed("01 23 45 67 89 ab cd"), "91 a2 b3 c4 d5 e6 80");
    EXPECT_EQ(packed("01 00 00 00 00 00 00"), "80 00 00 00 00 00 00");
    EXPECT_EQ(packed("00 00 00 00 00 00 01"), "00 00 00 00 00 00 80");
    EXPECT_EQ(packed("fe 00 00 00 00 00 00"), "00 00 00 00 00 00 00");
}

TEST(PackFrame, LongerFramesTakeTheirLast49BitsAndPadWithZeros) {
    const std::vector<uint8_t> frame = hexBytes("ff ff ff 01 23 45 67 89 ab cd");
    EXPECT_EQ(hexText(packFrame(10, frame.data())), "91 a2 b3 c4 d5 e6 80 00 00 00");
}

TEST(PackFrame, RefusesLengthsThatCannotHoldACodeword) {
    const uint8_t frame[7] = {};
    EXPECT_TRUE(packFrame(6, frame).empty());
    EXPECT_TRUE(packFrame(-7, frame).empty());
}

}  // namespace
