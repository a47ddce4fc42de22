// Why D2XX may have refused to open a device, for the report.
#pragma once

#include <string>

#include "d2xx/d2xx.h"

// How the report tells a user to try once more, at the end of a fix (device/failure_advice.h).
constexpr const char* PROBE_AGAIN = "probe again";

// One line: the likely cause of FT_OpenEx failing with `status` for the device of this list
// record, and what fixes it.
std::string openFailureCause(const FT_DEVICE_LIST_INFO_NODE& entry, FT_STATUS status);
