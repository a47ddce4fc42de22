// usb3k.dll called the way a Windows JVM calls it: loaded with LoadLibrary, its native methods
// found by their plain JNI names with GetProcAddress and called through JNICALL (__stdcall)
// pointers, with a JNI environment of our own, over the emulator's ftd2xx.dll. The checks of
// x86's stdcall itself run on 32-bit Windows only (tests/win32/CMakeLists.txt).
#include <windows.h>

#include <gtest/gtest.h>
#include <jni.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "sim/usb3k_sim.h"
#include "tests/fake_jni_env.h"
#include "tests/java_speech.h"
#include "tests/sim_test_support.h"
#ifndef _WIN64
#include "tests/win32/stdcall_probe.h"
#endif

namespace {

#define USB3K_NATIVE(name) "Java_com_pelmar_base_audio_codec_USB3KBridge_" name

using InitializeFn = jboolean(JNICALL*)(JNIEnv*, jclass);
using GetInitErrorFn = jstring(JNICALL*)(JNIEnv*, jclass);
using DecodeFn = jboolean(JNICALL*)(JNIEnv*, jclass, jbyteArray, jint, jbyteArray, jint);
using ShutdownFn = jboolean(JNICALL*)(JNIEnv*, jclass);

// Stands in for the USB3KBridge class reference, which the library never looks at.
int bridgeClassStandIn;
jclass bridgeClass() {
    return reinterpret_cast<jclass>(&bridgeClassStandIn);
}

template <typename Function>
Function entryPoint(HMODULE library, const char* name) {
    // Through void*: a FARPROC converted straight to another function type draws a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// A fresh usb3k.dll for every test: its process-wide state (device list, current device, stored
// error) lives in the DLL's data and starts over when it is loaded again.
class JniCallTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        library_ = LoadLibraryA("usb3k.dll");
        ASSERT_NE(library_, nullptr)
            << "LoadLibrary(usb3k.dll) failed with error " << GetLastError();
        initialize_ = entryPoint<InitializeFn>(library_, USB3K_NATIVE("initialize"));
        getInitError_ = entryPoint<GetInitErrorFn>(library_, USB3K_NATIVE("getInitError"));
        decode_ = entryPoint<DecodeFn>(library_, USB3K_NATIVE("decode"));
        shutdown_ = entryPoint<ShutdownFn>(library_, USB3K_NATIVE("shutdown"));
        ASSERT_NE(initialize_, nullptr);
        ASSERT_NE(getInitError_, nullptr);
        ASSERT_NE(decode_, nullptr);
        ASSERT_NE(shutdown_, nullptr);
    }

    void TearDown() override {
        if (library_ != nullptr) {
            FreeLibrary(library_);
        }
        EXPECT_TRUE(jni_.faults().empty())
            << "JNI misuse: " << testing::PrintToString(jni_.faults());
        EXPECT_EQ(jni_.outstandingElements(), 0) << "array elements never released";
    }

    bool initialize() { return initialize_(jni_.env(), bridgeClass()) == JNI_TRUE; }
    std::string initError() { return jni_.text(getInitError_(jni_.env(), bridgeClass())); }
    jboolean decode(jbyteArray vcw, jint vcwOffset, jbyteArray pcm, jint pcmOffset) {
        return decode_(jni_.env(), bridgeClass(), vcw, vcwOffset, pcm, pcmOffset);
    }
    jboolean shutdown() { return shutdown_(jni_.env(), bridgeClass()); }

    HMODULE library_ = nullptr;
    InitializeFn initialize_ = nullptr;
    GetInitErrorFn getInitError_ = nullptr;
    DecodeFn decode_ = nullptr;
    ShutdownFn shutdown_ = nullptr;
    FakeJniEnv jni_;
};

#ifndef _WIN64
TEST_F(JniCallTest, NativeMethodsAreNotExportedUnderDecoratedNames) {
    // Under these names a JVM would not find them (plain first, then _name@N), and MinGW exports
    // name@N unless told otherwise.
    EXPECT_EQ(GetProcAddress(library_, USB3K_NATIVE("decode") "@24"), nullptr);
    EXPECT_EQ(GetProcAddress(library_, "_" USB3K_NATIVE("decode") "@24"), nullptr);
    EXPECT_EQ(GetProcAddress(library_, USB3K_NATIVE("initialize") "@8"), nullptr);
}

TEST_F(JniCallTest, EachNativeMethodRemovesItsOwnArguments) {
    const uint32_t env = word(jni_.env());
    const uint32_t cls = word(bridgeClass());
    const ProbedCall init = probeCall(reinterpret_cast<void*>(initialize_), {env, cls});
    EXPECT_EQ(init.poppedBytes, 8u);
    EXPECT_EQ(init.result & 0xFF, JNI_TRUE);

    const ProbedCall error = probeCall(reinterpret_cast<void*>(getInitError_), {env, cls});
    EXPECT_EQ(error.poppedBytes, 8u);
    EXPECT_EQ(jni_.text(reinterpret_cast<jstring>(static_cast<uintptr_t>(error.result))), "");

    const std::vector<uint8_t> frames = testFrames(1, 7);
    jbyteArray vcw = jni_.newByteArray(asJava(frames));
    jbyteArray pcm = jni_.newByteArray(std::vector<jbyte>(320));
    const ProbedCall decoded =
        probeCall(reinterpret_cast<void*>(decode_), {env, cls, word(vcw), 0, word(pcm), 0});
    EXPECT_EQ(decoded.poppedBytes, 24u);
    EXPECT_EQ(jni_.contents(pcm), javaSpeechFor(frames));

    const ProbedCall shut = probeCall(reinterpret_cast<void*>(shutdown_), {env, cls});
    EXPECT_EQ(shut.poppedBytes, 8u);
    EXPECT_EQ(shut.result & 0xFF, JNI_TRUE);
}
#endif  // _WIN64

TEST_F(JniCallTest, InitializeOverTheEmulatorPreparesTheDevice) {
    EXPECT_TRUE(initialize());
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_RESET), 1);
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_STOP_CODEC), 1);
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_RATE), 1);
    EXPECT_EQ(sim_open_handles(), 1);
    EXPECT_EQ(initError(), "");
}

TEST_F(JniCallTest, InitErrorIsEmptyBeforeAnyInitialize) {
    EXPECT_EQ(initError(), "");
    EXPECT_EQ(jni_.callCount("NewStringUTF"), 1);
}

TEST_F(JniCallTest, DecodeOfFifteenBytesWritesTwoFramesOfSwappedSpeech) {
    ASSERT_TRUE(initialize());
    // Five bytes before the offset and one after the two frames, none of which may be decoded.
    const std::vector<uint8_t> frames = testFrames(2, 15);
    std::vector<uint8_t> input = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    input.insert(input.end(), frames.begin(), frames.end());
    input.push_back(0x77);
    jbyteArray vcw = jni_.newByteArray(asJava(input));
    constexpr jint kPcmOffset = 30;
    constexpr jbyte kUntouched = 0x5A;
    jbyteArray pcm = jni_.newByteArray(std::vector<jbyte>(700, kUntouched));

    EXPECT_EQ(decode(vcw, 5, pcm, kPcmOffset), JNI_FALSE);

    const std::vector<jbyte>& out = jni_.contents(pcm);
    const std::vector<jbyte> expected = javaSpeechFor(frames);
    ASSERT_EQ(expected.size(), 640u);
    EXPECT_EQ(std::vector<jbyte>(out.begin() + kPcmOffset, out.begin() + kPcmOffset + 640),
              expected);
    EXPECT_EQ(std::vector<jbyte>(out.begin(), out.begin() + kPcmOffset),
              std::vector<jbyte>(kPcmOffset, kUntouched));
    EXPECT_EQ(std::vector<jbyte>(out.begin() + kPcmOffset + 640, out.end()),
              std::vector<jbyte>(700 - kPcmOffset - 640, kUntouched));
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL), 2);

    ASSERT_EQ(jni_.regions().size(), 1u);
    EXPECT_EQ(jni_.regions()[0], std::make_pair(kPcmOffset, jsize{640}));
    // The input is read as a region copy: nothing pinned, nothing written back.
    EXPECT_EQ(jni_.callCount("GetByteArrayRegion"), 1);
    EXPECT_EQ(jni_.callCount("GetByteArrayElements"), 0);
    EXPECT_EQ(jni_.contents(vcw), asJava(input));
}

// One array for both, the speech in front of the frames: reading the input must never put old
// bytes back over speech already written.
TEST_F(JniCallTest, DecodeIntoTheInputArrayKeepsTheSpeech) {
    ASSERT_TRUE(initialize());
    const std::vector<uint8_t> frames = testFrames(2, 21);
    std::vector<jbyte> contents(640 + frames.size() + 1, 0x33);
    std::copy(frames.begin(), frames.end(), contents.begin() + 640);
    contents.back() = 0x44;
    jbyteArray both = jni_.newByteArray(contents);

    EXPECT_EQ(decode(both, 640, both, 0), JNI_FALSE);

    const std::vector<jbyte>& out = jni_.contents(both);
    EXPECT_EQ(std::vector<jbyte>(out.begin(), out.begin() + 640), javaSpeechFor(frames));
    EXPECT_EQ(std::vector<jbyte>(out.begin() + 640, out.end()),
              std::vector<jbyte>(contents.begin() + 640, contents.end()));
}

TEST_F(JniCallTest, WithoutADeviceInitializeFailsAndSaysWhy) {
    sim_clear_devices();
    EXPECT_FALSE(initialize());
    EXPECT_EQ(initError(), "No USB-3000 devices detected");
}

TEST_F(JniCallTest, ShutdownClosesTheDeviceAndAnswersTrue) {
    ASSERT_TRUE(initialize());
    ASSERT_EQ(sim_open_handles(), 1);
    EXPECT_EQ(shutdown(), JNI_TRUE);
    EXPECT_EQ(sim_open_handles(), 0);
}

TEST_F(JniCallTest, DecodeWithoutADeviceWritesNothing) {
    sim_clear_devices();
    EXPECT_FALSE(initialize());
    jbyteArray vcw = jni_.newByteArray(asJava(testFrames(2, 3)));
    jbyteArray pcm = jni_.newByteArray(std::vector<jbyte>(640, 0x11));
    EXPECT_EQ(decode(vcw, 0, pcm, 0), JNI_FALSE);
    EXPECT_EQ(jni_.contents(pcm), std::vector<jbyte>(640, 0x11));
}

// Arguments a Java caller can get wrong. None may crash the process, touch memory outside the
// arrays, or reach the device.
struct BadArguments {
    const char* what;
    bool nullVcw;
    jint vcwOffset;
    bool nullPcm;
    jint pcmLength;
    jint pcmOffset;
};

// Names the case in test output instead of dumping the bytes of the struct.
void PrintTo(const BadArguments& bad, std::ostream* out) {
    *out << bad.what;
}

class JniBadArgumentsTest : public JniCallTest, public testing::WithParamInterface<BadArguments> {};

TEST_P(JniBadArgumentsTest, DecodeRefusesAndWritesNothing) {
    const BadArguments& bad = GetParam();
    ASSERT_TRUE(initialize());
    jbyteArray vcw = bad.nullVcw ? nullptr : jni_.newByteArray(asJava(testFrames(2, 9)));
    jbyteArray pcm =
        bad.nullPcm ? nullptr : jni_.newByteArray(std::vector<jbyte>(bad.pcmLength, 0x22));

    EXPECT_EQ(decode(vcw, bad.vcwOffset, pcm, bad.pcmOffset), JNI_FALSE);

    if (pcm != nullptr) {
        EXPECT_EQ(jni_.contents(pcm), std::vector<jbyte>(bad.pcmLength, 0x22));
    }
    EXPECT_EQ(jni_.callCount("SetByteArrayRegion"), 0);
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, JniBadArgumentsTest,
    testing::Values(BadArguments{"NegativeVcwOffset", false, -1, false, 640, 0},
                    BadArguments{"VcwOffsetPastTheEnd", false, 15, false, 640, 0},
                    BadArguments{"HugeVcwOffset", false, 0x7FFFFFFF, false, 640, 0},
                    BadArguments{"NegativePcmOffset", false, 0, false, 640, -1},
                    BadArguments{"PcmOffsetPastTheEnd", false, 0, false, 640, 641},
                    BadArguments{"PcmTooShort", false, 0, false, 639, 0},
                    BadArguments{"PcmTooShortAfterOffset", false, 0, false, 640, 1},
                    BadArguments{"NullVcw", true, 0, false, 640, 0},
                    BadArguments{"NullPcm", false, 0, true, 0, 0}),
    [](const testing::TestParamInfo<BadArguments>& info) { return std::string(info.param.what); });

}  // namespace
