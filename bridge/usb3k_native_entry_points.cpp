// The native methods of com.pelmar.usb3k.Usb3kNative, the handle-based interface under
// Usb3kDecoder. Each keeps, for the calling thread, how it failed, the lines it wrote and the
// failure's cause and fix, which Java reads back with failure(), lines() and advice(). Texts cross
// as byte arrays, one byte a character, as D2XX holds them. No C++ exception reaches the JVM.
#include <array>
#include <atomic>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "bridge/escaped_failure.h"
#include "bridge/java_arrays.h"
#include "com_pelmar_usb3k_Usb3kNative.h"
#include "decoders/decoder_handles.h"
#include "decoders/usb3000_list.h"
#include "device/device_list.h"
#include "device/diagnostics.h"

namespace {

// What the calling thread's last call of a native method left for Java to read.
struct LastCall {
    HandleOutcome outcome;
    std::vector<std::string> lines;
};
thread_local LastCall lastCall;

// Whether the lines of these methods also go to standard error (setStandardError); the bridge's
// lines always do.
std::atomic<bool> linesToStandardError{true};

void finish(HandleOutcome outcome, DiagnosticCapture& capture) {
    lastCall.outcome = std::move(outcome);
    lastCall.lines = capture.take();
}

// A failure that escaped as a C++ exception: no cause or fix is known.
void finish(HandleFailure failure, DiagnosticCapture& capture) {
    finish(HandleOutcome{failure, {}}, capture);
}

jbyteArray bytesOf(JNIEnv* env, const std::string& text) {
    jbyteArray array = env->NewByteArray(static_cast<jsize>(text.size()));
    if (array != nullptr && !text.empty()) {
        env->SetByteArrayRegion(array, 0, static_cast<jsize>(text.size()),
                                reinterpret_cast<const jbyte*>(text.data()));
    }
    return array;
}

// A Java byte[][] of the texts (a sequence of std::string, or of references to them); null when
// the JVM is out of memory (its exception pending).
template <typename Texts>
jobjectArray textsOf(JNIEnv* env, const Texts& texts) {
    jclass byteArrayClass = env->FindClass("[B");
    if (byteArrayClass == nullptr) {
        return nullptr;
    }
    jobjectArray array =
        env->NewObjectArray(static_cast<jsize>(texts.size()), byteArrayClass, nullptr);
    env->DeleteLocalRef(byteArrayClass);
    for (std::size_t i = 0; array != nullptr && i < texts.size(); ++i) {
        jbyteArray text = bytesOf(env, texts[i]);
        if (text == nullptr) {
            return nullptr;
        }
        env->SetObjectArrayElement(array, static_cast<jsize>(i), text);
        env->DeleteLocalRef(text);
    }
    return array;
}

std::string textOf(JNIEnv* env, jbyteArray bytes) {
    std::string text(static_cast<std::size_t>(env->GetArrayLength(bytes)), '\0');
    env->GetByteArrayRegion(bytes, 0, static_cast<jsize>(text.size()),
                            reinterpret_cast<jbyte*>(&text[0]));
    return text;
}

}  // namespace

extern "C" {

JNIEXPORT jobjectArray JNICALL Java_com_pelmar_usb3k_Usb3kNative_devices(JNIEnv* env, jclass) {
    DiagnosticCapture capture(linesToStandardError.load());
    try {
        std::vector<AttachedUsb3000> devices;
        HandleOutcome outcome = listUsb3000s(devices);
        const bool failed = outcome.failure != HandleFailure::None;
        finish(std::move(outcome), capture);
        if (failed) {
            return nullptr;
        }
        std::vector<std::string> texts;
        for (const AttachedUsb3000& device : devices) {
            texts.insert(texts.end(),
                         {device.serialNumber, device.description, device.usable ? "1" : "",
                          device.productId, device.version, device.reason});
        }
        return textsOf(env, texts);
    } catch (...) {
        reportEscaped("Usb3kDecoder::devices");
        finish(HandleFailure::DeviceListFailed, capture);
        return nullptr;
    }
}

// Polled about once a second while an application watches for devices: its lines stay off standard
// error, and Java logs those of a failure once, when listing starts to fail.
JNIEXPORT jobjectArray JNICALL Java_com_pelmar_usb3k_Usb3kNative_attached(JNIEnv* env, jclass) {
    DiagnosticCapture capture(false);
    try {
        std::vector<FT_DEVICE_LIST_INFO_NODE> usb3000s;
        HandleOutcome outcome = readUsb3000s("Usb3kDecoder::watch", usb3000s);
        const bool failed = outcome.failure != HandleFailure::None;
        finish(std::move(outcome), capture);
        if (failed) {
            return nullptr;
        }
        std::vector<std::string> texts;
        for (const FT_DEVICE_LIST_INFO_NODE& entry : usb3000s) {
            texts.insert(texts.end(), {serialNumberOf(entry), descriptionOf(entry)});
        }
        return textsOf(env, texts);
    } catch (...) {
        reportEscaped("Usb3kDecoder::watch");
        finish(HandleFailure::DeviceListFailed, capture);
        return nullptr;
    }
}

JNIEXPORT jlong JNICALL Java_com_pelmar_usb3k_Usb3kNative_open(JNIEnv* env, jclass,
                                                               jbyteArray serialNumber,
                                                               jobjectArray opened) {
    DiagnosticCapture capture(linesToStandardError.load());
    try {
        const std::string wanted = serialNumber == nullptr ? "" : textOf(env, serialNumber);
        int64_t handle = 0;
        std::string serial;
        HandleOutcome outcome =
            openDecoder(serialNumber == nullptr ? nullptr : &wanted, handle, serial);
        const bool failed = outcome.failure != HandleFailure::None;
        finish(std::move(outcome), capture);
        if (failed) {
            return 0;
        }
        jbyteArray serialBytes = bytesOf(env, serial);
        if (serialBytes == nullptr) {
            closeDecoder(handle);
            return 0;
        }
        env->SetObjectArrayElement(opened, 0, serialBytes);
        return static_cast<jlong>(handle);
    } catch (...) {
        reportEscaped("Usb3kDecoder::open");
        finish(HandleFailure::NotReady, capture);
        return 0;
    }
}

JNIEXPORT jint JNICALL Java_com_pelmar_usb3k_Usb3kNative_decode(JNIEnv* env, jclass, jlong handle,
                                                                jbyteArray vcw, jint vcwOffset,
                                                                jint frames, jbyteArray pcm,
                                                                jint pcmOffset) {
    DiagnosticCapture capture(linesToStandardError.load());
    int32_t decoded = 0;
    try {
        finish(decodeOnHandle(env, handle, vcw, vcwOffset, frames, pcm, pcmOffset, decoded),
               capture);
    } catch (...) {
        reportEscaped("Usb3kDecoder::decode");
        finish(HandleFailure::FrameFailed, capture);
    }
    return decoded;
}

JNIEXPORT jboolean JNICALL Java_com_pelmar_usb3k_Usb3kNative_reprepare(JNIEnv*, jclass,
                                                                       jlong handle,
                                                                       jint framesWithoutSpeech) {
    DiagnosticCapture capture(linesToStandardError.load());
    try {
        HandleOutcome outcome = reprepareOnHandle(handle, framesWithoutSpeech);
        const bool prepared = outcome.failure == HandleFailure::None;
        finish(std::move(outcome), capture);
        return prepared ? JNI_TRUE : JNI_FALSE;
    } catch (...) {
        reportEscaped("Usb3kDecoder::decode");
        finish(HandleFailure::FrameFailed, capture);
        return JNI_FALSE;
    }
}

JNIEXPORT void JNICALL Java_com_pelmar_usb3k_Usb3kNative_close(JNIEnv*, jclass, jlong handle) {
    DiagnosticCapture capture(linesToStandardError.load());
    try {
        closeDecoder(handle);
        finish(HandleOutcome{}, capture);
    } catch (...) {
        reportEscaped("Usb3kDecoder::close");
    }
}

JNIEXPORT void JNICALL Java_com_pelmar_usb3k_Usb3kNative_setStandardError(JNIEnv*, jclass,
                                                                          jboolean written) {
    linesToStandardError.store(written == JNI_TRUE);
}

JNIEXPORT jint JNICALL Java_com_pelmar_usb3k_Usb3kNative_failure(JNIEnv*, jclass) {
    return static_cast<jint>(lastCall.outcome.failure);
}

JNIEXPORT jobjectArray JNICALL Java_com_pelmar_usb3k_Usb3kNative_lines(JNIEnv* env, jclass) {
    try {
        return textsOf(env, lastCall.lines);
    } catch (...) {
        reportEscaped("Usb3kDecoder::lines");
        return nullptr;
    }
}

JNIEXPORT jobjectArray JNICALL Java_com_pelmar_usb3k_Usb3kNative_advice(JNIEnv* env, jclass) {
    try {
        // Java reads the advice after every call: the texts go by reference, not copied.
        const Advice& advice = lastCall.outcome.advice;
        const std::array<std::reference_wrapper<const std::string>, 2> texts{advice.cause,
                                                                             advice.fix};
        return textsOf(env, texts);
    } catch (...) {
        reportEscaped("Usb3kDecoder::advice");
        return nullptr;
    }
}

}  // extern "C"
