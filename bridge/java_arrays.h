// Java's byte arrays as a frame channel: each chunk read with GetByteArrayRegion and written with
// SetByteArrayRegion, nothing pinned, nothing allocated.
#pragma once

#include <jni.h>

#include <cstdint>

#include "decoders/decoder_handles.h"
#include "decoders/frame_channel.h"

class JavaArrays final : public FrameChannel {
  public:
    JavaArrays(JNIEnv* env, jbyteArray vcw, jint vcwOffset, jbyteArray pcm, jint pcmOffset)
        : env_(env), vcw_(vcw), vcwOffset_(vcwOffset), pcm_(pcm), pcmOffset_(pcmOffset) {}

    bool holds(int64_t frames) const override;
    void readFrames(std::size_t first, std::size_t count, uint8_t* vcw) override;
    void writeSpeech(std::size_t first, std::size_t count, const uint8_t* speech) override;

  private:
    JNIEnv* env_;
    jbyteArray vcw_;
    jint vcwOffset_;
    jbyteArray pcm_;
    jint pcmOffset_;
};

// decodeOnHandle over `frames` frames of vcw[vcwOffset..] into pcm[pcmOffset..].
HandleOutcome decodeOnHandle(JNIEnv* env, int64_t handle, jbyteArray vcw, jint vcwOffset,
                             jint frames, jbyteArray pcm, jint pcmOffset, int32_t& decoded);
