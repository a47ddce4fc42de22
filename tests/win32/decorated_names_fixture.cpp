// A DLL built the way usb3k.dll must not be: exported without --kill-at and linked against an
// import library made without dlltool -k. The name check must reject it, which shows that the
// check reads the tables it claims to.
#include <jni.h>

#include "d2xx/d2xx.h"

extern "C" JNIEXPORT jboolean JNICALL
Java_com_pelmar_base_audio_codec_USB3KBridge_shutdown(JNIEnv*, jclass) {
    return FT_Close(nullptr) == FT_OK ? JNI_TRUE : JNI_FALSE;
}
