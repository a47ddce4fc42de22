// Helpers shared by the suites that run over the emulator: a fixture that powers it on afresh,
// the environment, the transcript as lines, standard error as lines, and the speech the emulated device gives for
// each VCW frame.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "sim/usb3k_sim.h"

// Sets ("NAME=value") or clears ("NAME=") a variable of the environment, on every target; the
// texts stay alive because the environment keeps the pointer.
inline void putEnvironment(const char* assignment) {
    static std::vector<std::unique_ptr<std::string>> kept;
    kept.push_back(std::make_unique<std::string>(assignment));
    putenv(&(*kept.back())[0]);
}

// Every test starts from the emulator's power-on state.
class SimTest : public ::testing::Test {
  protected:
    void SetUp() override { sim_reset(); }
};

inline std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

inline std::string transcriptText() {
    std::string text(sim_transcript(nullptr, 0), '\0');
    std::vector<char> buffer(text.size() + 1);
    sim_transcript(buffer.data(), buffer.size());
    text.assign(buffer.data(), text.size());
    return text;
}

inline std::vector<std::string> transcriptLines() {
    return splitLines(transcriptText());
}

// The transcript lines that contain `what`, such as "FT_Write" or "FT_Read(".
inline std::vector<std::string> transcriptLinesWith(const std::string& what) {
    std::vector<std::string> matching;
    for (const std::string& line : transcriptLines()) {
        if (line.find(what) != std::string::npos) {
            matching.push_back(line);
        }
    }
    return matching;
}

// The D2XX calls from the first line containing `what` on, by name only ("FT_Write",
// "FT_Read", "FT_Purge", ...): the order of the calls an exchange makes.
inline std::vector<std::string> callNamesFrom(const std::string& what) {
    std::vector<std::string> names;
    bool started = what.empty();
    for (const std::string& line : transcriptLines()) {
        started = started || line.find(what) != std::string::npos;
        const std::size_t at = line.find("FT_");
        if (started && at != std::string::npos) {
            names.push_back(line.substr(at, line.find('(', at) - at));
        }
    }
    return names;
}

// Runs `action` with standard error captured and returns what it wrote, line by line.
template <typename Action>
std::vector<std::string> stderrLinesOf(Action&& action) {
    testing::internal::CaptureStderr();
    std::forward<Action>(action)();
    return splitLines(testing::internal::GetCapturedStderr());
}

// The 49-bit codeword of a 7-byte VCW frame: frame bits 7..55, w0 in bit 48.
inline uint64_t codewordOfFrame(const uint8_t* frame) {
    uint64_t bits = 0;
    for (int i = 0; i < 7; ++i) {
        bits = (bits << 8) | frame[i];
    }
    return bits & ((uint64_t{1} << 49) - 1);
}

inline std::vector<uint8_t> speechForCodeword(uint64_t codeword) {
    std::vector<uint8_t> speech(320);
    sim_speech_for_codeword(codeword, speech.data());
    return speech;
}

// What a decode of these frames must return: the emulated device's speech for each whole frame.
inline std::vector<uint8_t> speechForFrames(const std::vector<uint8_t>& vcw) {
    std::vector<uint8_t> speech;
    for (std::size_t at = 0; at + 7 <= vcw.size(); at += 7) {
        const std::vector<uint8_t> block = speechForCodeword(codewordOfFrame(vcw.data() + at));
        speech.insert(speech.end(), block.begin(), block.end());
    }
    return speech;
}

// Pseudo-random frames from a small deterministic generator: reproducible, and different for
// every seed.
inline std::vector<uint8_t> testFrames(std::size_t frames, uint32_t seed) {
    std::vector<uint8_t> vcw(frames * 7);
    uint32_t state = seed * 2654435761u + 1;
    for (uint8_t& byte : vcw) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return vcw;
}
