#include "bridge/java_arrays.h"

#include "device/frame_packing.h"
#include "packet/packet_constants.h"

namespace {

bool inRange(JNIEnv* env, jbyteArray array, jint offset, int64_t bytes) {
    return array != nullptr && offset >= 0 && offset + bytes <= env->GetArrayLength(array);
}

jsize asJsize(std::size_t value) {
    return static_cast<jsize>(value);
}

}  // namespace

bool JavaArrays::holds(int64_t frames) const {
    return inRange(env_, vcw_, vcwOffset_, frames * static_cast<int64_t>(VCW_FRAME_SIZE)) &&
           inRange(env_, pcm_, pcmOffset_, frames * SPEECH_BLOCK_SIZE);
}

void JavaArrays::readFrames(std::size_t first, std::size_t count, uint8_t* vcw) {
    env_->GetByteArrayRegion(vcw_, vcwOffset_ + asJsize(first * VCW_FRAME_SIZE),
                             asJsize(count * VCW_FRAME_SIZE), reinterpret_cast<jbyte*>(vcw));
}

void JavaArrays::writeSpeech(std::size_t first, std::size_t count, const uint8_t* speech) {
    env_->SetByteArrayRegion(pcm_, pcmOffset_ + asJsize(first * SPEECH_BLOCK_SIZE),
                             asJsize(count * SPEECH_BLOCK_SIZE),
                             reinterpret_cast<const jbyte*>(speech));
}

HandleOutcome decodeOnHandle(JNIEnv* env, int64_t handle, jbyteArray vcw, jint vcwOffset,
                             jint frames, jbyteArray pcm, jint pcmOffset, int32_t& decoded) {
    JavaArrays arrays(env, vcw, vcwOffset, pcm, pcmOffset);
    return decodeOnHandle(handle, frames, arrays, decoded);
}
