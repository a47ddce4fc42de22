// The bits of the Flags word in a D2XX device-list record.
#pragma once

#include "d2xx/d2xx.h"

// Set while some process, this one included, has the device open.
constexpr ULONG DEVICE_FLAG_OPENED = 0x1;
// Set for a device on a high-speed USB connection.
constexpr ULONG DEVICE_FLAG_HIGH_SPEED = 0x2;
