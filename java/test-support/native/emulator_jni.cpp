// com.pelmar.base.audio.codec.test.Emulator: the emulator's C control functions for Java tests.
#include <string>
#include <vector>

#include "com_pelmar_base_audio_codec_test_Emulator.h"
#include "sim/usb3k_sim.h"

namespace {

// A Java string as a C string, or none for a null reference (the emulator's "any device").
class Utf {
  public:
    Utf(JNIEnv* env, jstring text) : env_(env), text_(text) {
        chars_ = text != nullptr ? env->GetStringUTFChars(text, nullptr) : nullptr;
    }
    ~Utf() {
        if (chars_ != nullptr) {
            env_->ReleaseStringUTFChars(text_, chars_);
        }
    }
    Utf(const Utf&) = delete;
    Utf& operator=(const Utf&) = delete;
    const char* get() const { return chars_; }

  private:
    JNIEnv* env_;
    jstring text_;
    const char* chars_;
};

jbyteArray toJava(JNIEnv* env, const unsigned char* bytes, size_t count) {
    jbyteArray array = env->NewByteArray(static_cast<jsize>(count));
    if (array != nullptr && count > 0) {
        env->SetByteArrayRegion(array, 0, static_cast<jsize>(count),
                                reinterpret_cast<const jbyte*>(bytes));
    }
    return array;
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_com_pelmar_base_audio_codec_test_Emulator_reset(JNIEnv*, jclass) {
    sim_reset();
}

JNIEXPORT void JNICALL Java_com_pelmar_base_audio_codec_test_Emulator_clearDevices(JNIEnv*,
                                                                                   jclass) {
    sim_clear_devices();
}

JNIEXPORT jint JNICALL Java_com_pelmar_base_audio_codec_test_Emulator_addDevice(
    JNIEnv* env, jclass, jint id, jbyteArray serial, jstring description) {
    // The serial number arrives as raw bytes so that tests can give it any 8-bit content.
    std::vector<char> serialText(static_cast<size_t>(env->GetArrayLength(serial)) + 1, '\0');
    env->GetByteArrayRegion(serial, 0, env->GetArrayLength(serial),
                            reinterpret_cast<jbyte*>(serialText.data()));
    Utf descriptionText(env, description);
    return sim_add_device(static_cast<unsigned int>(id), serialText.data(), descriptionText.get());
}

JNIEXPORT void JNICALL Java_com_pelmar_base_audio_codec_test_Emulator_failCall(
    JNIEnv* env, jclass, jstring serial, jstring function, jint status, jint occurrence) {
    Utf serialText(env, serial);
    Utf functionText(env, function);
    sim_fail_call(serialText.get(), functionText.get(), static_cast<unsigned int>(status),
                  occurrence);
}

JNIEXPORT void JNICALL Java_com_pelmar_base_audio_codec_test_Emulator_faultAnswer(
    JNIEnv* env, jclass, jstring serial, jint request, jint occurrence, jint fault, jint value) {
    Utf serialText(env, serial);
    sim_fault_answer(serialText.get(), request, occurrence, fault, value);
}

JNIEXPORT jint JNICALL Java_com_pelmar_base_audio_codec_test_Emulator_requestCount(JNIEnv* env,
                                                                                   jclass,
                                                                                   jstring serial,
                                                                                   jint request) {
    Utf serialText(env, serial);
    return sim_request_count(serialText.get(), request);
}

JNIEXPORT jint JNICALL Java_com_pelmar_base_audio_codec_test_Emulator_openHandles(JNIEnv*, jclass) {
    return sim_open_handles();
}

JNIEXPORT jbyteArray JNICALL
Java_com_pelmar_base_audio_codec_test_Emulator_transcriptBytes(JNIEnv* env, jclass) {
    std::string text(sim_transcript(nullptr, 0) + 1, '\0');
    const size_t length = sim_transcript(&text[0], text.size());
    return toJava(env, reinterpret_cast<const unsigned char*>(text.data()), length);
}

JNIEXPORT void JNICALL Java_com_pelmar_base_audio_codec_test_Emulator_clearTranscript(JNIEnv*,
                                                                                      jclass) {
    sim_clear_transcript();
}

JNIEXPORT void JNICALL
Java_com_pelmar_base_audio_codec_test_Emulator_recordTranscript(JNIEnv*, jclass, jboolean on) {
    sim_record_transcript(on ? 1 : 0);
}

JNIEXPORT jbyteArray JNICALL Java_com_pelmar_base_audio_codec_test_Emulator_speechForCodeword(
    JNIEnv* env, jclass, jlong codeword) {
    unsigned char speech[320];
    sim_speech_for_codeword(static_cast<unsigned long long>(codeword), speech);
    return toJava(env, speech, sizeof speech);
}

}  // extern "C"
