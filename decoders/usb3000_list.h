// D2XX's list of attached FTDI devices, narrowed to the USB-3000s, for the handle-based interface.
#pragma once

#include <vector>

#include "d2xx/d2xx.h"
#include "decoders/decoder_handles.h"

// D2XX loaded and its list read, its USB-3000s' records in `usb3000s` in list order; otherwise
// the failure, with its line for `where`. Opens no device.
HandleOutcome readUsb3000s(const char* where, std::vector<FT_DEVICE_LIST_INFO_NODE>& usb3000s);
