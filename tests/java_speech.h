// What a Java caller of the bridge must find in its arrays, for tests that call the bridge with a
// JNI environment of their own.
#pragma once

#include <jni.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "tests/sim_test_support.h"

inline std::vector<jbyte> asJava(const std::vector<uint8_t>& bytes) {
    return std::vector<jbyte>(bytes.begin(), bytes.end());
}

// The speech the emulated device sends for these frames, each sample's two bytes swapped: Java
// reads each sample low byte first.
inline std::vector<jbyte> javaSpeechFor(const std::vector<uint8_t>& frames) {
    std::vector<uint8_t> speech = speechForFrames(frames);
    for (std::size_t i = 0; i + 1 < speech.size(); i += 2) {
        std::swap(speech[i], speech[i + 1]);
    }
    return asJava(speech);
}
