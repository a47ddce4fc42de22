// com.pelmar.usb3k.demo.DeviceList: the serial number and description of the first USB-3000 in
// D2XX's device list, the same device the bridge selects.
#include <cstring>
#include <vector>

#include "com_pelmar_usb3k_demo_DeviceList.h"
#include "d2xx/d2xx.h"

namespace {

constexpr ULONG USB3000_ID = 0x04036001;

// The record's texts need no terminating zero when they fill their array.
jbyteArray boundedText(JNIEnv* env, const char* text, size_t capacity) {
    const void* zero = std::memchr(text, 0, capacity);
    const size_t length = zero != nullptr ? static_cast<const char*>(zero) - text : capacity;
    jbyteArray array = env->NewByteArray(static_cast<jsize>(length));
    if (array != nullptr) {
        env->SetByteArrayRegion(array, 0, static_cast<jsize>(length),
                                reinterpret_cast<const jbyte*>(text));
    }
    return array;
}

jobjectArray firstUsb3000(JNIEnv* env) {
    DWORD count = 0;
    if (FT_CreateDeviceInfoList(&count) != FT_OK || count == 0) {
        return nullptr;
    }
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(count);
    const DWORD capacity = count;
    if (FT_GetDeviceInfoList(nodes.data(), &count) != FT_OK) {
        return nullptr;
    }
    for (DWORD i = 0; i < count && i < capacity; ++i) {
        const FT_DEVICE_LIST_INFO_NODE& node = nodes[i];
        if (node.ID != USB3000_ID) {
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
        jbyteArray serial = boundedText(env, node.SerialNumber, sizeof node.SerialNumber);
        if (serial == nullptr) {
            return nullptr;
        }
        env->SetObjectArrayElement(texts, 0, serial);
        jbyteArray description = boundedText(env, node.Description, sizeof node.Description);
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

}  // extern "C"
