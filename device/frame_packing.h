#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A VCW frame is 7 bytes; its 49 codeword bits w0..w48 are frame bits 7..55, counted from the
// most significant bit of byte 0.
constexpr std::size_t VCW_FRAME_SIZE = 7;
constexpr int CODEWORD_BITS = 49;

// The channel field for rate table 34: the bit count 49, then the codeword bits in the table's
// three-way interleave. 8 bytes.
std::vector<uint8_t> interleaveFrame(const uint8_t* frame);
// The same 8 bytes written to `packed`.
void interleaveFrameInto(const uint8_t* frame, uint8_t* packed);

// The last 49 bits of a frame of `length` bytes (7 to 4095) in order, from the most significant
// bit of byte 0; every byte after the seventh is zero. `length` bytes.
std::vector<uint8_t> packFrame(int16_t length, const uint8_t* frame);
// The 7 bytes of packFrame(7, frame) written to `packed`.
void packFrameInto(const uint8_t* frame, uint8_t* packed);
