#include "decoders/chunk_decode.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "device/frame_packing.h"
#include "packet/packet_constants.h"

namespace {

// The device sends each sample high byte first; the callers read it low byte first. One block at
// a time: a loop of a known, fixed length over 16-bit samples, which the compiler turns into
// vector shifts even at -O2.
void swapSampleBytes(uint8_t* block) {
    constexpr std::size_t SAMPLES = SPEECH_BLOCK_SIZE / sizeof(uint16_t);
    for (std::size_t i = 0; i < SAMPLES; ++i) {
        uint16_t sample;
        std::memcpy(&sample, block + i * sizeof sample, sizeof sample);
        sample = static_cast<uint16_t>((sample << 8) | (sample >> 8));
        std::memcpy(block + i * sizeof sample, &sample, sizeof sample);
    }
}

// A buffer of at least `size` bytes; one that is large enough already is left as it is.
void growTo(std::vector<uint8_t>& buffer, std::size_t size) {
    if (buffer.size() < size) {
        buffer.resize(size);
    }
}

}  // namespace

std::size_t decodeChunks(USB3K& device, ChunkBuffers& buffers, FrameChannel& channel,
                         std::size_t frames, std::size_t chunkFrames) {
    // Chunk by chunk: the input read from the channel, the speech swapped and written to it,
    // block by block from the start, and nothing after the first frame that failed. Only what was
    // read in and what the device wrote is ever read from the buffers, so what they held before
    // does not matter.
    const std::size_t chunk = std::min(frames, chunkFrames);
    growTo(buffers.vcw, chunk * VCW_FRAME_SIZE);
    growTo(buffers.speech, chunk * SPEECH_BLOCK_SIZE);
    uint8_t* const input = buffers.vcw.data();
    uint8_t* const speech = buffers.speech.data();
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t count = std::min(chunk, frames - done);
        channel.readFrames(done, count, input);
        const std::size_t decoded = device.decodeFrames(input, count, speech);
        for (std::size_t block = 0; block < decoded; ++block) {
            swapSampleBytes(speech + block * SPEECH_BLOCK_SIZE);
        }
        if (decoded > 0) {
            channel.writeSpeech(done, decoded, speech);
        }
        done += decoded;
        if (decoded < count) {
            break;
        }
    }
    return done;
}
