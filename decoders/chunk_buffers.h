// What a decode call's chunks pass through on the native side.
#pragma once

#include <cstdint>
#include <vector>

// One chunk's VCW input and its speech. Whoever holds a device for decoding keeps one with it (a
// decoder's handle, the bridge's state), so that decode calls allocate nothing once the buffers
// have grown to the longest chunk decoded; they are given back when the device is closed.
struct ChunkBuffers {
    std::vector<uint8_t> vcw;
    std::vector<uint8_t> speech;
};
