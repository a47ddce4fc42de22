#include "sim/d2xx_functions.h"

#include <cstring>

namespace sim {
namespace {

// In the order of D2xxFunction.
constexpr const char* NAMES[D2XX_FUNCTIONS] = {
    "FT_CreateDeviceInfoList",
    "FT_GetDeviceInfoList",
    "FT_OpenEx",
    "FT_SetDataCharacteristics",
    "FT_SetFlowControl",
    "FT_ClrRts",
    "FT_SetBaudRate",
    "FT_SetLatencyTimer",
    "FT_SetUSBParameters",
    "FT_SetTimeouts",
    "FT_Write",
    "FT_Read",
    "FT_GetQueueStatus",
    "FT_Purge",
    "FT_Close",
};
static_assert(static_cast<std::size_t>(D2xxFunction::Close) + 1 == D2XX_FUNCTIONS,
              "one name for every D2XX function");

}  // namespace

const char* d2xxName(D2xxFunction function) {
    return NAMES[static_cast<std::size_t>(function)];
}

bool d2xxFunctionNamed(const char* name, D2xxFunction& function) {
    for (std::size_t i = 0; i < D2XX_FUNCTIONS; ++i) {
        if (std::strcmp(NAMES[i], name) == 0) {
            function = static_cast<D2xxFunction>(i);
            return true;
        }
    }
    return false;
}

}  // namespace sim
