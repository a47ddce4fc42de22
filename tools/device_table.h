// The report's list of every FTDI device D2XX reports.
#pragma once

#include <ostream>

#include "device/device_list.h"

// Writes the list as a table, one row per device with its index, flags (decoded), type, ID,
// location ID, serial number and description, the USB-3000s marked; or why there is none.
void writeDeviceTable(const DeviceListReading& list, std::ostream& out);
