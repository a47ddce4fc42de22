// com.pelmar.usb3k.demo.DeviceList: the serial number and description of the first USB-3000 in
// D2XX's device list (the device the bridge selects), and whether D2XX is the emulator.
#include <string>

#include "com_pelmar_usb3k_demo_DeviceList.h"
#include "d2xx/d2xx_api.h"
#include "device/device_list.h"

namespace {

jbyteArray bytesOf(JNIEnv* env, const std::string& text) {
    jbyteArray array = env->NewByteArray(static_cast<jsize>(text.size()));
    if (array != nullptr) {
        env->SetByteArrayRegion(array, 0, static_cast<jsize>(text.size()),
                                reinterpret_cast<const jbyte*>(text.data()));
    }
    return array;
}

jobjectArray firstUsb3000(JNIEnv* env) {
    std::string reason;
    if (!loadD2xx(reason)) {
        return nullptr;
    }
    for (const FT_DEVICE_LIST_INFO_NODE& entry : readDeviceList().entries) {
        if (!isUsb3000(entry)) {
            continue;
        }
        jclass byteArrayClass = env->FindClass("[B");
        if (byteArrayClass == nullptr) {
            return nullptr;
        }
        jobjectArray texts = env->NewObjectArray(2, byteArrayClass, nullptr);
        if (texts == nullptr) {
            return nullptr;
        }
        jbyteArray serial = bytesOf(env, serialNumberOf(entry));
        if (serial == nullptr) {
            return nullptr;
        }
        env->SetObjectArrayElement(texts, 0, serial);
        jbyteArray description = bytesOf(env, descriptionOf(entry));
        if (description == nullptr) {
            return nullptr;
        }
        env->SetObjectArrayElement(texts, 1, description);
        return texts;
    }
    return nullptr;
}

}  // namespace

extern "C" {

JNIEXPORT jobjectArray JNICALL Java_com_pelmar_usb3k_demo_DeviceList_firstUsb3000Texts(JNIEnv* env,
                                                                                       jclass) {
    try {
        return firstUsb3000(env);
    } catch (...) {
        // Naming the device is a courtesy: the demo goes on without it.
        return nullptr;
    }
}

JNIEXPORT jboolean JNICALL Java_com_pelmar_usb3k_demo_DeviceList_d2xxIsEmulator(JNIEnv*, jclass) {
    return d2xxIsEmulator() ? JNI_TRUE : JNI_FALSE;
}

}  // extern "C"
