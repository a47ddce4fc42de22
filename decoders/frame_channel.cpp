#include "decoders/frame_channel.h"

#include <cstring>

#include "device/frame_packing.h"
#include "packet/packet_constants.h"

bool MemoryFrames::holds(int64_t frames) const {
    return frames >= 0 && static_cast<uint64_t>(frames) <= frames_ &&
           (frames == 0 || (vcw_ != nullptr && pcm_ != nullptr));
}

void MemoryFrames::readFrames(std::size_t first, std::size_t count, uint8_t* vcw) {
    std::memcpy(vcw, vcw_ + first * VCW_FRAME_SIZE, count * VCW_FRAME_SIZE);
}

void MemoryFrames::writeSpeech(std::size_t first, std::size_t count, const uint8_t* speech) {
    std::memcpy(pcm_ + first * SPEECH_BLOCK_SIZE, speech, count * SPEECH_BLOCK_SIZE);
}
