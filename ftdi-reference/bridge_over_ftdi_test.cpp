// libusb3k.so over FTDI's own D2XX library, on a machine with no FTDI device and no emulator on
// the loader's path: loaded and called the way a JVM does, with a JNI environment of our own. The
// library must find every function it needs in FTDI's library, report FTDI's own answer in its
// lines and return false, and leave the output untouched, without crashing or hanging (CTest's
// time-out).
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <jni.h>

#include <string>
#include <vector>

#include "d2xx/d2xx.h"
#include "tests/fake_jni_env.h"

namespace {

#define USB3K_NATIVE(name) "Java_com_pelmar_base_audio_codec_USB3KBridge_" name

using InitializeFn = jboolean (*)(JNIEnv*, jclass);
using GetInitErrorFn = jstring (*)(JNIEnv*, jclass);
using DecodeFn = jboolean (*)(JNIEnv*, jclass, jbyteArray, jint, jbyteArray, jint);

template <typename Function>
Function found(void* library, const char* name) {
    return reinterpret_cast<Function>(dlsym(library, name));
}

// What the library's device list must say of FTDI's answer to FT_CreateDeviceInfoList.
std::string factoryLineFor(FT_STATUS status) {
    const std::string prefix = "USB3KFactory::USB3KFactory - ";
    return status == FT_OK
               ? prefix + "No USB devices detected\n"
               : prefix + "FT_CreateDeviceInfoList failed: " + std::to_string(status) + "\n";
}

TEST(BridgeOverFtdiD2xx, InitializeFailsWithFtdisStatusAndDecodeWritesNothing) {
    // The same library the loader gives libusb3k.so: FTDI's, not the emulator.
    void* ftdi = dlopen("libftd2xx.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(ftdi, nullptr) << dlerror();
    ASSERT_EQ(dlsym(ftdi, "sim_reset"), nullptr) << "the emulator is on the loader's path";
    const auto createDeviceInfoList =
        found<decltype(&FT_CreateDeviceInfoList)>(ftdi, "FT_CreateDeviceInfoList");
    ASSERT_NE(createDeviceInfoList, nullptr);
    DWORD count = 0;
    const FT_STATUS status = createDeviceInfoList(&count);
    if (status == FT_OK && count > 0) {
        GTEST_SKIP() << "FTDI's library lists " << count << " devices: this test needs none";
    }

    void* usb3k = dlopen(USB3K_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(usb3k, nullptr) << dlerror();
    const auto initialize = found<InitializeFn>(usb3k, USB3K_NATIVE("initialize"));
    const auto getInitError = found<GetInitErrorFn>(usb3k, USB3K_NATIVE("getInitError"));
    const auto decode = found<DecodeFn>(usb3k, USB3K_NATIVE("decode"));
    ASSERT_TRUE(initialize && getInitError && decode);

    FakeJniEnv jni;
    int classStandIn = 0;
    const jclass bridgeClass = reinterpret_cast<jclass>(&classStandIn);

    testing::internal::CaptureStderr();
    EXPECT_EQ(initialize(jni.env(), bridgeClass), JNI_FALSE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              factoryLineFor(status) + "No USB-3000 devices detected\n");
    EXPECT_EQ(jni.text(getInitError(jni.env(), bridgeClass)), "No USB-3000 devices detected");

    const std::vector<jbyte> untouched(320, 0x5A);
    jbyteArray vcw = jni.newByteArray(std::vector<jbyte>(7, 0x11));
    jbyteArray pcm = jni.newByteArray(untouched);
    testing::internal::CaptureStderr();
    decode(jni.env(), bridgeClass, vcw, 0, pcm, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "USB3KBridge::decode - no current device\n");
    EXPECT_EQ(jni.contents(pcm), untouched);
    EXPECT_TRUE(jni.faults().empty()) << testing::PrintToString(jni.faults());
}

}  // namespace
