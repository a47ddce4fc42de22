// Input for the benchmarks: VCW frames of pseudo-random bits, the same on every run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "device/frame_packing.h"

inline std::vector<uint8_t> pseudoRandomFrames(std::size_t count) {
    std::vector<uint8_t> vcw(count * VCW_FRAME_SIZE);
    uint32_t state = 0x12345678;
    for (uint8_t& byte : vcw) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return vcw;
}
