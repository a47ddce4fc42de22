#include "bridge/bridge_decode.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "device/diagnostics.h"
#include "device/frame_packing.h"
#include "packet/packet_constants.h"

namespace {

constexpr const char* DECODE_ENTRY = "USB3KBridge::decode";

// Holds the elements of a Java array and releases them with mode 0 on every path.
class ByteArrayElements {
  public:
    ByteArrayElements(JNIEnv* env, jbyteArray array) : env(env), array(array) {
        jboolean isCopy = JNI_FALSE;
        elements = env->GetByteArrayElements(array, &isCopy);
    }
    ~ByteArrayElements() {
        if (elements != nullptr) {
            env->ReleaseByteArrayElements(array, elements, 0);
        }
    }
    ByteArrayElements(const ByteArrayElements&) = delete;
    ByteArrayElements& operator=(const ByteArrayElements&) = delete;

    const jbyte* get() const { return elements; }

  private:
    JNIEnv* env;
    jbyteArray array;
    jbyte* elements;
};

void refuse(const std::string& message) {
    writeDiagnostic(DECODE_ENTRY, message);
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

// Copies vcw[vcwOffset..] and hands the array's elements back before any speech is written: a
// JVM that gave a copy writes it back on release, which would undo the speech were vcw and pcm
// the same array. It also leaves the array free during the device exchanges.
bool copyInput(JNIEnv* env, jbyteArray vcw, jint vcwOffset, std::vector<uint8_t>& frames) {
    ByteArrayElements elements(env, vcw);
    if (elements.get() == nullptr) {
        // The JVM could not pin or copy the array and has an OutOfMemoryError pending; the caller
        // learns of the failure from standard error like every other refusal.
        env->ExceptionClear();
        refuse(" - cannot access vcw array");
        return false;
    }
    const jsize vcwLength = env->GetArrayLength(vcw);
    frames.assign(elements.get() + vcwOffset, elements.get() + vcwLength);
    return true;
}

}  // namespace

void decodeIntoJava(JNIEnv* env, BridgeState& state, jbyteArray vcw, jint vcwOffset, jbyteArray pcm,
                    jint pcmOffset) {
    if (!argumentsAcceptable(env, vcw, vcwOffset, pcm, pcmOffset)) {
        return;
    }
    if (state.currentDevice == nullptr) {
        refuse(" - no current device");
        return;
    }
    // A failed initialize leaves its device selected. One that could not be opened, configured or
    // identified gets no requests, and the caller learns why rather than finding pcm unwritten.
    if (!state.currentDevice->ready) {
        refuse(" - device " + state.currentDevice->serialNumber + " is not ready");
        return;
    }

    std::vector<uint8_t> frames;
    if (!copyInput(env, vcw, vcwOffset, frames)) {
        return;
    }
    std::vector<uint8_t> speech = state.currentDevice->decode(frames);

    // The device sends each sample high byte first; Java reads it low byte first.
    for (std::size_t i = 0; i + 1 < speech.size(); i += 2) {
        std::swap(speech[i], speech[i + 1]);
    }
    if (!speech.empty()) {
        env->SetByteArrayRegion(pcm, pcmOffset, static_cast<jsize>(speech.size()),
                                reinterpret_cast<const jbyte*>(speech.data()));
    }
}
