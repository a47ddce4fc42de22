// The D2XX functions the emulator exports, by number: calls are counted and faults aimed per
// function, and a number indexes a counter where a name would need a lookup on every call.
#pragma once

#include <cstddef>

namespace sim {

enum class D2xxFunction {
    CreateDeviceInfoList,
    GetDeviceInfoList,
    OpenEx,
    SetDataCharacteristics,
    SetFlowControl,
    ClrRts,
    SetBaudRate,
    SetLatencyTimer,
    SetUSBParameters,
    SetTimeouts,
    Write,
    Read,
    GetQueueStatus,
    Purge,
    Close,
};
constexpr std::size_t D2XX_FUNCTIONS = 15;

// The D2XX name: "FT_Write" for D2xxFunction::Write.
const char* d2xxName(D2xxFunction function);

// The function with this D2XX name; false for a name that is none of them.
bool d2xxFunctionNamed(const char* name, D2xxFunction& function);

}  // namespace sim
