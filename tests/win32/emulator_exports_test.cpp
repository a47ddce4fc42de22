// The emulator's ftd2xx.dll as a program sees FTDI's: each D2XX function found by its plain name
// and called as __stdcall, removing its own arguments from the stack.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "d2xx/d2xx.h"
#include "sim/usb3k_sim.h"
#include "tests/win32/stdcall_probe.h"

namespace {

struct D2xxFunction {
    const char* name;
    int argumentWords;  // every argument, UCHAR and USHORT included, takes one 32-bit word
    bool takesHandle;
};

// The functions usb3k calls, with the argument sizes of their declarations in d2xx/d2xx.h.
const D2xxFunction kFunctions[] = {
    {"FT_CreateDeviceInfoList", 1, false},
    {"FT_GetDeviceInfoList", 2, false},
    {"FT_OpenEx", 3, false},
    {"FT_SetDataCharacteristics", 4, true},
    {"FT_SetFlowControl", 4, true},
    {"FT_ClrRts", 1, true},
    {"FT_SetBaudRate", 2, true},
    {"FT_SetLatencyTimer", 2, true},
    {"FT_SetUSBParameters", 3, true},
    {"FT_SetTimeouts", 3, true},
    {"FT_Write", 4, true},
    {"FT_Read", 4, true},
    {"FT_GetQueueStatus", 2, true},
    {"FT_Purge", 2, true},
    {"FT_Close", 1, true},
};

class EmulatorExports : public testing::TestWithParam<D2xxFunction> {
  protected:
    void SetUp() override {
        sim_reset();
        // Already loaded: this program imports sim_* from it.
        library_ = GetModuleHandleA("ftd2xx.dll");
        ASSERT_NE(library_, nullptr);
    }
    HMODULE library_ = nullptr;
};

TEST_P(EmulatorExports, PlainNameIsAStdcallFunction) {
    const D2xxFunction& function = GetParam();
    const void* address = reinterpret_cast<void*>(GetProcAddress(library_, function.name));
    ASSERT_NE(address, nullptr) << function.name << " not exported under its plain name";
    const std::string decorated =
        std::string(function.name) + "@" + std::to_string(4 * function.argumentWords);
    EXPECT_EQ(GetProcAddress(library_, decorated.c_str()), nullptr);

    // Arguments that make every function fail harmlessly or answer from the device list: no
    // handle is open, pointer arguments point at scratch space, the serial number is unknown.
    alignas(4) unsigned char scratch[16 * 100] = {};
    DWORD count = 16;
    char unknownSerial[] = "NO-SUCH-DEVICE";
    const std::string name = function.name;
    std::vector<uint32_t> words(function.argumentWords, 0);
    if (name == "FT_CreateDeviceInfoList") {
        words[0] = word(&count);
    } else if (name == "FT_GetDeviceInfoList") {
        ASSERT_EQ(FT_CreateDeviceInfoList(&count), static_cast<FT_STATUS>(FT_OK));
        count = 16;
        words[0] = word(scratch);
        words[1] = word(&count);
    } else if (name == "FT_OpenEx") {
        words[0] = word(unknownSerial);
        words[1] = FT_OPEN_BY_SERIAL_NUMBER;
        words[2] = word(scratch);
    } else if (name == "FT_Write" || name == "FT_Read") {
        words[1] = word(scratch);
        words[2] = 8;
        words[3] = word(&count);
    }
    const ProbedCall call = probeCall(address, words);
    EXPECT_EQ(call.poppedBytes, static_cast<uint32_t>(4 * function.argumentWords));
    if (function.takesHandle || name == "FT_OpenEx") {
        EXPECT_NE(call.result, static_cast<uint32_t>(FT_OK)) << "succeeded without a device";
    } else {
        EXPECT_EQ(call.result, static_cast<uint32_t>(FT_OK));
        EXPECT_EQ(count, 1u) << "the one emulated USB-3000";
    }
}

INSTANTIATE_TEST_SUITE_P(D2xx, EmulatorExports, testing::ValuesIn(kFunctions),
                         [](const testing::TestParamInfo<D2xxFunction>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
