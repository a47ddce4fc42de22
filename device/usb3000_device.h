// What identifies a USB-3000 and what the library sets it to.
#pragma once

#include <cstdint>

// The USB-3000's FTDI chip in D2XX's device list: vendor 0x0403 in the upper 16 bits of the
// record's ID, product 0x6001 in the lower.
constexpr uint32_t USB3000_ID = 0x04036001;

// The rate table the library selects, and whose frame layout it then sends.
constexpr uint8_t RATE_TABLE_34 = 34;
