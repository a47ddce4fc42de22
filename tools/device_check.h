// The report's section for one USB-3000.
#pragma once

#include <ostream>

#include "d2xx/d2xx.h"

// Checks the USB-3000 of this list record as the library uses it and writes its section: opens
// and configures it, identifies it, runs reset, stop codec and rate table 34, and decodes
// `frames` frames, one exchange each, timing every exchange. The device is closed again before
// this returns. True when every step succeeded.
bool checkUsb3000(const FT_DEVICE_LIST_INFO_NODE& entry, unsigned frames, std::ostream& out);
