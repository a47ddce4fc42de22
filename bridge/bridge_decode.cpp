#include "bridge/bridge_decode.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "device/device_list.h"
#include "device/diagnostics.h"
#include "device/frame_packing.h"
#include "packet/packet_constants.h"

namespace {

constexpr const char* DECODE_ENTRY = "USB3KBridge::decode";

void refuse(const std::string& message) {
    writeDiagnostic(DECODE_ENTRY, message);
}

// The line of a device D2XX no longer lists; made only then, so that a decode allocates nothing.
void refuseRemoved(const USB3K& device) {
    refuse(" - device " + device.serialNumber + " is no longer attached");
}

// Checks what the JVM would otherwise answer with an exception or a crash. Returns false after
// writing the one line that says which argument is wrong.
bool argumentsAcceptable(JNIEnv* env, jbyteArray vcw, jint vcwOffset, jbyteArray pcm,
                         jint pcmOffset) {
    if (vcw == nullptr) {
        refuse(" - vcw array is null");
        return false;
    }
    if (pcm == nullptr) {
        refuse(" - pcm array is null");
        return false;
    }
    const jsize vcwLength = env->GetArrayLength(vcw);
    if (vcwOffset < 0 || vcwOffset > vcwLength) {
        refuse(" - vcwOffset out of range: " + std::to_string(vcwOffset) + ", vcw length " +
               std::to_string(vcwLength));
        return false;
    }
    const jsize pcmLength = env->GetArrayLength(pcm);
    if (pcmOffset < 0 || pcmOffset > pcmLength) {
        refuse(" - pcmOffset out of range: " + std::to_string(pcmOffset) + ", pcm length " +
               std::to_string(pcmLength));
        return false;
    }
    const int64_t frames = (vcwLength - vcwOffset) / static_cast<int64_t>(VCW_FRAME_SIZE);
    const int64_t wanted = frames * SPEECH_BLOCK_SIZE;
    const int64_t room = pcmLength - pcmOffset;
    if (wanted > room) {
        refuse(" - not enough room in pcm: wanted " + std::to_string(wanted) + ", got " +
               std::to_string(room));
        return false;
    }
    return true;
}

// The device sends each sample high byte first; Java reads it low byte first. One block at a
// time: a loop of a known, fixed length over 16-bit samples, which the compiler turns into vector
// shifts even at -O2.
void swapSampleBytes(uint8_t* block) {
    constexpr std::size_t SAMPLES = SPEECH_BLOCK_SIZE / sizeof(uint16_t);
    for (std::size_t i = 0; i < SAMPLES; ++i) {
        uint16_t sample;
        std::memcpy(&sample, block + i * sizeof sample, sizeof sample);
        sample = static_cast<uint16_t>((sample << 8) | (sample >> 8));
        std::memcpy(block + i * sizeof sample, &sample, sizeof sample);
    }
}

jsize asJsize(std::size_t value) {
    return static_cast<jsize>(value);
}

// A buffer of at least `size` bytes; one that is large enough already is left as it is.
void growTo(std::vector<uint8_t>& buffer, std::size_t size) {
    if (buffer.size() < size) {
        buffer.resize(size);
    }
}

}  // namespace

std::size_t decodeChunks(JNIEnv* env, USB3K& device, ChunkBuffers& buffers, jbyteArray vcw,
                         jint vcwOffset, std::size_t frames, jbyteArray pcm, jint pcmOffset,
                         std::size_t chunkFrames) {
    // Chunk by chunk: the input read with GetByteArrayRegion (nothing pinned, nothing written
    // back), the speech swapped and written with SetByteArrayRegion, block by block from the
    // start, and nothing after the first frame that failed. Only what was read in and what the
    // device wrote is ever read from the buffers, so what they held before does not matter.
    const std::size_t chunk = std::min(frames, chunkFrames);
    growTo(buffers.vcw, chunk * VCW_FRAME_SIZE);
    growTo(buffers.speech, chunk * SPEECH_BLOCK_SIZE);
    uint8_t* const input = buffers.vcw.data();
    uint8_t* const speech = buffers.speech.data();
    std::size_t done = 0;
    while (done < frames) {
        const std::size_t count = std::min(chunk, frames - done);
        env->GetByteArrayRegion(vcw, vcwOffset + asJsize(done * VCW_FRAME_SIZE),
                                asJsize(count * VCW_FRAME_SIZE), reinterpret_cast<jbyte*>(input));
        const std::size_t decoded = device.decodeFrames(input, count, speech);
        const std::size_t bytes = decoded * SPEECH_BLOCK_SIZE;
        for (std::size_t block = 0; block < decoded; ++block) {
            swapSampleBytes(speech + block * SPEECH_BLOCK_SIZE);
        }
        if (bytes > 0) {
            env->SetByteArrayRegion(pcm, pcmOffset + asJsize(done * SPEECH_BLOCK_SIZE),
                                    asJsize(bytes), reinterpret_cast<const jbyte*>(speech));
        }
        done += decoded;
        if (decoded < count) {
            break;
        }
    }
    return done;
}

void decodeIntoJava(JNIEnv* env, BridgeState& state, jbyteArray vcw, jint vcwOffset, jbyteArray pcm,
                    jint pcmOffset) {
    if (!argumentsAcceptable(env, vcw, vcwOffset, pcm, pcmOffset)) {
        return;
    }
    USB3K* device = state.currentDevice;
    if (device == nullptr) {
        refuse(" - no current device");
        return;
    }
    if (!device->ready) {
        refuse(" - device " + device->serialNumber + " is not ready");
        return;
    }
    if (state.currentDeviceRemoved) {
        refuseRemoved(*device);
        return;
    }

    const std::size_t frames =
        static_cast<std::size_t>(env->GetArrayLength(vcw) - vcwOffset) / VCW_FRAME_SIZE;
    if (frames == 0) {
        // The device says there is nothing to decode, as it does for any empty input.
        device->decodeFrames(nullptr, 0, nullptr);
        return;
    }
    const std::size_t decoded = decodeChunks(env, *device, state.chunkBuffers, vcw, vcwOffset,
                                             frames, pcm, pcmOffset, DECODE_CHUNK_FRAMES);
    if (decoded < frames && !usb3000StillListed(device->serialNumber)) {
        state.currentDeviceRemoved = true;
        refuseRemoved(*device);
    }
}
