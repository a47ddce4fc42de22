// com.pelmar.usb3k.emulator.Emulator: the emulator's C control functions for Java code.
#include <algorithm>
#include <string>
#include <vector>

#include "com_pelmar_usb3k_emulator_Emulator.h"
#include "sim/usb3k_sim.h"

namespace {

// A Java byte array as a zero-terminated C string, or none for a null reference (the emulator's
// "any device"). Texts reach the emulator as bytes so that a serial number may hold any 8-bit
// value, exactly as the device list holds it.
class CText {
  public:
    CText(JNIEnv* env, jbyteArray bytes) : isNull_(bytes == nullptr) {
        if (!isNull_) {
            const jsize length = env->GetArrayLength(bytes);
            text_.assign(static_cast<size_t>(length) + 1, '\0');
            env->GetByteArrayRegion(bytes, 0, length, reinterpret_cast<jbyte*>(text_.data()));
        }
    }
    const char* get() const { return isNull_ ? nullptr : text_.data(); }

  private:
    bool isNull_;
    std::vector<char> text_;
};

// A Java string of ASCII letters (a D2XX function's name) as a C string; none when the JVM is out
// of memory.
class Ascii {
  public:
    Ascii(JNIEnv* env, jstring text) : env_(env), text_(text) {
        chars_ = env->GetStringUTFChars(text, nullptr);
    }
    ~Ascii() {
        if (chars_ != nullptr) {
            env_->ReleaseStringUTFChars(text_, chars_);
        }
    }
    Ascii(const Ascii&) = delete;
    Ascii& operator=(const Ascii&) = delete;
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

JNIEXPORT void JNICALL Java_com_pelmar_usb3k_emulator_Emulator_reset(JNIEnv*, jclass) {
    sim_reset();
}

JNIEXPORT void JNICALL Java_com_pelmar_usb3k_emulator_Emulator_clearDevices(JNIEnv*, jclass) {
    sim_clear_devices();
}

JNIEXPORT jint JNICALL Java_com_pelmar_usb3k_emulator_Emulator_nativeAddDevice(
    JNIEnv* env, jclass, jint id, jbyteArray serial, jbyteArray description) {
    CText serialText(env, serial);
    CText descriptionText(env, description);
    return sim_add_device(static_cast<unsigned int>(id), serialText.get(), descriptionText.get());
}

JNIEXPORT void JNICALL Java_com_pelmar_usb3k_emulator_Emulator_nativeFailCall(
    JNIEnv* env, jclass, jbyteArray serial, jstring function, jint status, jint occurrence) {
    CText serialText(env, serial);
    Ascii functionName(env, function);
    if (functionName.get() != nullptr) {
        sim_fail_call(serialText.get(), functionName.get(), static_cast<unsigned int>(status),
                      occurrence);
    }
}

JNIEXPORT void JNICALL Java_com_pelmar_usb3k_emulator_Emulator_nativeShortWrite(JNIEnv* env, jclass,
                                                                                jbyteArray serial,
                                                                                jint occurrence,
                                                                                jint accepted) {
    CText serialText(env, serial);
    sim_short_write(serialText.get(), occurrence, static_cast<unsigned int>(accepted));
}

JNIEXPORT void JNICALL Java_com_pelmar_usb3k_emulator_Emulator_nativeFaultAnswer(
    JNIEnv* env, jclass, jbyteArray serial, jint request, jint occurrence, jint fault, jint value) {
    CText serialText(env, serial);
    sim_fault_answer(serialText.get(), request, occurrence, fault, value);
}

JNIEXPORT void JNICALL Java_com_pelmar_usb3k_emulator_Emulator_clearFaults(JNIEnv*, jclass) {
    sim_clear_faults();
}

JNIEXPORT jint JNICALL Java_com_pelmar_usb3k_emulator_Emulator_nativeRequestCount(JNIEnv* env,
                                                                                  jclass,
                                                                                  jbyteArray serial,
                                                                                  jint request) {
    CText serialText(env, serial);
    return sim_request_count(serialText.get(), request);
}

JNIEXPORT jint JNICALL Java_com_pelmar_usb3k_emulator_Emulator_nativeCallCount(JNIEnv* env, jclass,
                                                                               jbyteArray serial,
                                                                               jstring function) {
    CText serialText(env, serial);
    Ascii functionName(env, function);
    if (functionName.get() == nullptr) {
        return 0;
    }
    return sim_call_count(serialText.get(), functionName.get());
}

JNIEXPORT jint JNICALL Java_com_pelmar_usb3k_emulator_Emulator_openHandles(JNIEnv*, jclass) {
    return sim_open_handles();
}

JNIEXPORT jbyteArray JNICALL Java_com_pelmar_usb3k_emulator_Emulator_nativeTranscript(JNIEnv* env,
                                                                                      jclass) {
    // Another thread's D2XX calls may lengthen the transcript between the two calls: what no longer
    // fits is left for the next call.
    std::string text(sim_transcript(nullptr, 0) + 1, '\0');
    const size_t length = std::min(sim_transcript(&text[0], text.size()), text.size() - 1);
    return toJava(env, reinterpret_cast<const unsigned char*>(text.data()), length);
}

JNIEXPORT void JNICALL Java_com_pelmar_usb3k_emulator_Emulator_clearTranscript(JNIEnv*, jclass) {
    sim_clear_transcript();
}

JNIEXPORT void JNICALL Java_com_pelmar_usb3k_emulator_Emulator_recordTranscript(JNIEnv*, jclass,
                                                                                jboolean on) {
    sim_record_transcript(on ? 1 : 0);
}

JNIEXPORT jbyteArray JNICALL
Java_com_pelmar_usb3k_emulator_Emulator_speechForCodeword(JNIEnv* env, jclass, jlong codeword) {
    unsigned char speech[320];
    sim_speech_for_codeword(static_cast<unsigned long long>(codeword), speech);
    return toJava(env, speech, sizeof speech);
}

JNIEXPORT void JNICALL Java_com_pelmar_usb3k_emulator_Emulator_setTiming(JNIEnv*, jclass,
                                                                         jboolean on) {
    sim_set_timing(on ? 1 : 0);
}

JNIEXPORT void JNICALL Java_com_pelmar_usb3k_emulator_Emulator_setPaced(JNIEnv*, jclass,
                                                                        jboolean on) {
    sim_set_paced(on ? 1 : 0);
}

JNIEXPORT jboolean JNICALL Java_com_pelmar_usb3k_emulator_Emulator_nativeDetach(JNIEnv* env, jclass,
                                                                                jbyteArray serial) {
    CText serialText(env, serial);
    return sim_detach_device(serialText.get()) != 0 ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL
Java_com_pelmar_usb3k_emulator_Emulator_nativeReattach(JNIEnv* env, jclass, jbyteArray serial) {
    CText serialText(env, serial);
    return sim_reattach_device(serialText.get()) != 0 ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_pelmar_usb3k_emulator_Emulator_nativeUnplugAfter(
    JNIEnv* env, jclass, jbyteArray serial, jlong afterUs, jlong awayUs) {
    CText serialText(env, serial);
    return sim_unplug_after_us(serialText.get(), static_cast<unsigned long long>(afterUs),
                               static_cast<unsigned long long>(awayUs)) != 0
               ? JNI_TRUE
               : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_pelmar_usb3k_emulator_Emulator_nativeReplugAtListCall(
    JNIEnv* env, jclass, jbyteArray serial, jint listCalls) {
    CText serialText(env, serial);
    return sim_replug_at_list_call(serialText.get(), listCalls) != 0 ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_com_pelmar_usb3k_emulator_Emulator_nativeRefuseOpensAfterReplug(
    JNIEnv* env, jclass, jbyteArray serial, jint tries, jint status) {
    CText serialText(env, serial);
    sim_refuse_opens_after_replug(serialText.get(), tries, static_cast<unsigned int>(status));
}

JNIEXPORT void JNICALL Java_com_pelmar_usb3k_emulator_Emulator_nativeNeedsResetAfterReplug(
    JNIEnv* env, jclass, jbyteArray serial, jboolean on) {
    CText serialText(env, serial);
    sim_needs_reset_after_replug(serialText.get(), on ? 1 : 0);
}

JNIEXPORT void JNICALL Java_com_pelmar_usb3k_emulator_Emulator_setRemovedHandleStatus(JNIEnv*,
                                                                                      jclass,
                                                                                      jint status) {
    sim_set_removed_handle_status(static_cast<unsigned int>(status));
}

JNIEXPORT jint JNICALL Java_com_pelmar_usb3k_emulator_Emulator_nativeLocationId(JNIEnv* env, jclass,
                                                                                jbyteArray serial) {
    CText serialText(env, serial);
    return static_cast<jint>(sim_location_id(serialText.get()));
}

JNIEXPORT void JNICALL Java_com_pelmar_usb3k_emulator_Emulator_nativeAdvance(JNIEnv* env, jclass,
                                                                             jbyteArray serial,
                                                                             jlong microseconds) {
    CText serialText(env, serial);
    sim_advance_us(serialText.get(), static_cast<unsigned long long>(microseconds));
}

}  // extern "C"
