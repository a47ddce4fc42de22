// What a soak runs: its fixed seeds and frame count in CI, or the one longer run that
// USB3K_SOAK_SEED and USB3K_SOAK_FRAMES ask for (scripts/soak).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

inline std::vector<uint32_t> soakSeeds() {
    const char* text = std::getenv("USB3K_SOAK_SEED");
    if (text == nullptr) {
        return {1, 2, 3};
    }
    return {static_cast<uint32_t>(std::strtoul(text, nullptr, 10))};
}

inline long soakFrames(long fallback) {
    const char* text = std::getenv("USB3K_SOAK_FRAMES");
    return text != nullptr ? std::strtol(text, nullptr, 10) : fallback;
}
