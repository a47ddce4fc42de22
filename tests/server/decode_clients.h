// Clients of usb3k-server's decode routes on loopback: a live stream over a WebSocket and a
// POST /v1/decode (compiled in decode_clients.cpp). The load test and the benchmarks share them,
// and the speech the emulator gives for each frame, as the server answers it (little-endian).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/usb3k_sim.h"
#include "tests/server/test_clients.h"

namespace decode_clients {

constexpr std::size_t FRAME_BYTES = 7;
constexpr std::size_t BLOCK_BYTES = 320;

// The emulated device's speech for each 7-byte frame of `vcw`, samples little-endian.
inline std::vector<uint8_t> emulatedSpeech(const std::vector<uint8_t>& vcw) {
    std::vector<uint8_t> speech(vcw.size() / FRAME_BYTES * BLOCK_BYTES);
    for (std::size_t f = 0; f < vcw.size() / FRAME_BYTES; ++f) {
        uint64_t codeword = 0;
        for (std::size_t i = 0; i < FRAME_BYTES; ++i) codeword = codeword << 8 | vcw[f * 7 + i];
        uint8_t* block = speech.data() + f * BLOCK_BYTES;
        sim_speech_for_codeword(codeword & ((uint64_t{1} << 49) - 1), block);
        for (std::size_t i = 0; i + 1 < BLOCK_BYTES; i += 2) std::swap(block[i], block[i + 1]);
    }
    return speech;
}

// Blocks of `got` that differ from `expected`'s, block by block, and the blocks missing.
inline std::size_t wrongBlocks(const std::vector<uint8_t>& got,
                               const std::vector<uint8_t>& expected) {
    std::size_t wrong = 0;
    for (std::size_t at = 0; at < expected.size(); at += BLOCK_BYTES) {
        if (at + BLOCK_BYTES > got.size() ||
            !std::equal(expected.begin() + at, expected.begin() + at + BLOCK_BYTES,
                        got.begin() + at)) {
            ++wrong;
        }
    }
    return wrong + (got.size() > expected.size() ? 1 : 0);
}

// A live stream: GET /v1/stream upgraded to a WebSocket, with no token.
class StreamClient {
  public:
    StreamClient(uint16_t port, const std::string& target);
    ~StreamClient();

    // Sends `vcw` in messages of `messageFrames` frames, `ahead` of them unanswered at most, and
    // returns the speech of the answers in order; text messages (events) are counted.
    std::vector<uint8_t> decode(const std::vector<uint8_t>& vcw, std::size_t messageFrames,
                                std::size_t ahead);

    void close();

    std::size_t events = 0;

  private:
    std::unique_ptr<Stream> stream_;
};

// POST /v1/decode?format=pcm on a connection of its own, with no token, asking for the concealed
// count as a trailer field. Throws beast::system_error for an answer cut short.
struct PostResult {
    unsigned status = 0;
    std::vector<uint8_t> speech;
    std::string concealed;
};

PostResult postDecode(uint16_t port, const std::string& target, const std::vector<uint8_t>& vcw);

}  // namespace decode_clients
