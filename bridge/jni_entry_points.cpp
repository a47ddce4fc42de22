// The four native methods of com.pelmar.base.audio.codec.USB3KBridge. Each takes the one
// process-wide lock for its whole run and lets no C++ exception reach the JVM: a failure that
// would otherwise escape becomes one diagnostic line and the method's failure result.
#include <mutex>

#include "bridge/bridge_decode.h"
#include "bridge/bridge_lifecycle.h"
#include "bridge/bridge_state.h"
#include "bridge/escaped_failure.h"
#include "bridge/modified_utf8.h"
#include "com_pelmar_base_audio_codec_USB3KBridge.h"

extern "C" {

JNIEXPORT jboolean JNICALL Java_com_pelmar_base_audio_codec_USB3KBridge_initialize(JNIEnv*,
                                                                                   jclass) {
    try {
        BridgeState& state = bridgeState();
        std::lock_guard<std::mutex> hold(state.lock);
        return initializeDevice(state) ? JNI_TRUE : JNI_FALSE;
    } catch (...) {
        reportEscaped("USB3KBridge::initialize");
        return JNI_FALSE;
    }
}

JNIEXPORT jstring JNICALL Java_com_pelmar_base_audio_codec_USB3KBridge_getInitError(JNIEnv* env,
                                                                                    jclass) {
    try {
        BridgeState& state = bridgeState();
        std::lock_guard<std::mutex> hold(state.lock);
        return env->NewStringUTF(latin1ToModifiedUtf8(state.initError).c_str());
    } catch (...) {
        reportEscaped("USB3KBridge::getInitError");
        return env->NewStringUTF("");
    }
}

JNIEXPORT jboolean JNICALL Java_com_pelmar_base_audio_codec_USB3KBridge_decode(
    JNIEnv* env, jclass, jbyteArray vcw, jint vcwOffset, jbyteArray pcm, jint pcmOffset) {
    try {
        BridgeState& state = bridgeState();
        std::lock_guard<std::mutex> hold(state.lock);
        decodeIntoJava(env, state, vcw, vcwOffset, pcm, pcmOffset);
    } catch (...) {
        reportEscaped("USB3KBridge::decode");
    }
    // The result carries no information: what was decoded is 320 bytes per frame written.
    return JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_pelmar_base_audio_codec_USB3KBridge_shutdown(JNIEnv*, jclass) {
    try {
        BridgeState& state = bridgeState();
        std::lock_guard<std::mutex> hold(state.lock);
        shutdownDevices(state);
    } catch (...) {
        reportEscaped("USB3KBridge::shutdown");
    }
    return JNI_TRUE;
}

}  // extern "C"
