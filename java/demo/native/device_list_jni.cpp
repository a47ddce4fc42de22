// com.pelmar.usb3k.demo.DeviceList: whether the D2XX library in the process is the emulator.
#include <string>

#include "com_pelmar_usb3k_demo_DeviceList.h"
#include "d2xx/d2xx_api.h"

extern "C" {

JNIEXPORT jboolean JNICALL Java_com_pelmar_usb3k_demo_DeviceList_d2xxIsEmulator(JNIEnv*, jclass) {
    // This library keeps a D2XX table of its own, loaded from the library the process has.
    std::string reason;
    return loadD2xx(reason) && d2xxIsEmulator() ? JNI_TRUE : JNI_FALSE;
}

}  // extern "C"
