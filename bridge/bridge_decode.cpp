#include "bridge/bridge_decode.h"

#include <cstdint>
#include <string>

#include "bridge/java_arrays.h"
#include "decoders/chunk_decode.h"
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

}  // namespace

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
    JavaArrays arrays(env, vcw, vcwOffset, pcm, pcmOffset);
    const std::size_t decoded =
        decodeChunks(*device, state.chunkBuffers, arrays, frames, DECODE_CHUNK_FRAMES);
    if (decoded < frames && !usb3000StillListed(device->serialNumber)) {
        state.currentDeviceRemoved = true;
        refuseRemoved(*device);
    }
}
