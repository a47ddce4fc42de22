#pragma once

#include <jni.h>

#include <cstddef>

#include "bridge/bridge_state.h"
#include "bridge/chunk_buffers.h"

// Frames decoded per round trip through Java's arrays. The native memory decoding needs is one
// round's input and speech (7 KB and 320 KB), however many frames a call holds.
constexpr std::size_t DECODE_CHUNK_FRAMES = 1024;

// Decodes `frames` VCW frames of vcw[vcwOffset..] on the device, at most `chunkFrames` per round
// trip through Java's arrays, and writes their speech into pcm from pcmOffset, each 16-bit sample
// low byte first, block by block and nothing from the first frame that failed on. The arguments
// must be in range and `frames` above 0; the caller holds the device, and `buffers`, for the whole
// call. The buffers grow to a chunk when they are smaller, and are kept. Returns how many frames
// were decoded.
std::size_t decodeChunks(JNIEnv* env, USB3K& device, ChunkBuffers& buffers, jbyteArray vcw,
                         jint vcwOffset, std::size_t frames, jbyteArray pcm, jint pcmOffset,
                         std::size_t chunkFrames);

// Decodes the VCW frames of vcw[vcwOffset..] on the current device and writes the speech into
// pcm from pcmOffset, each 16-bit sample low byte first. Arguments that would make the JVM raise
// an exception or write outside pcm, and a call without a current device, are refused with one
// diagnostic line before any exchange, leaving pcm as it was. A frame that fails on a device D2XX
// no longer lists marks it removed, with a line that says so; from then on each call is refused
// with that one line, until the next initialize. The caller holds state.lock.
void decodeIntoJava(JNIEnv* env, BridgeState& state, jbyteArray vcw, jint vcwOffset, jbyteArray pcm,
                    jint pcmOffset);
