// The one loop that decodes a call's frames on a device, a chunk at a time, for the library's
// native methods and for usb3k-server alike.
#pragma once

#include <cstddef>

#include "decoders/chunk_buffers.h"
#include "decoders/frame_channel.h"
#include "device/usb3k.h"

// Frames decoded per round trip through the channel. The native memory decoding needs is one
// round's input and speech (7 KB and 320 KB), however many frames a call holds.
constexpr std::size_t DECODE_CHUNK_FRAMES = 1024;

// Decodes the channel's first `frames` VCW frames on the device, at most `chunkFrames` per round
// trip through the channel, and writes their speech to it, each 16-bit sample low byte first,
// block by block and nothing from the first frame that failed on. The frames must be in range and
// `frames` above 0; the caller holds the device, and `buffers`, for the whole call. The buffers
// grow to a chunk when they are smaller, and are kept. Returns how many frames were decoded.
std::size_t decodeChunks(USB3K& device, ChunkBuffers& buffers, FrameChannel& channel,
                         std::size_t frames, std::size_t chunkFrames);
