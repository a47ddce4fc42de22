// A D2XX driven by the fuzzer's input, built as libftd2xx.so and linked into the device fuzzer,
// so that the device code's run-time loader (d2xx/) finds it in place of FTDI's driver: it defines
// every function of d2xx/d2xx.h, answers them in whatever order the device code calls them, and
// makes each status, each count and every byte the device sends come from the input.
//
// Script: [N][N control bytes][the bytes the device sends, in order]. Every call takes its
// control bytes in call order; once they run out each takes 0, the well-behaved answer, so a
// script with N = 0 is a driver that never fails in front of a device that says exactly the link
// bytes.
//  - Status byte, one per call (none for a call on a null handle, which gets FT_INVALID_HANDLE):
//    0x00 to 0xDF give FT_OK, 0xE0 to 0xFF fail the call with status 1 to 32.
//  - Count byte, one more after FT_OK for the calls that return a count:
//      FT_Read       0: as many link bytes as asked and left; c: at most c - 1 of them
//      FT_Write      0: every byte; c: at most c - 1
//      FT_GetQueueStatus  c link bytes queued (at most those left)
//      FT_Purge      with FT_PURGE_RX: drops c link bytes (at most those left)
//      FT_CreateDeviceInfoList  (c + 1) mod 4 devices
//      FT_GetDeviceInfoList     first one byte per record (bit 0: another FTDI product, not a
//                               USB-3000; bit 1: a serial number of all 16 bytes, no zero), then
//                               the count reported: 0 the devices listed, c: c - 1 (the records
//                               written are always the devices listed)
//
// Whatever the input, the fake stops the run (an invariant failure) when the device code breaks
// the driver's contract: a call on a handle that is not open, a buffer shorter than its count, a
// missing out-parameter, a serial number longer than a device record holds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fake_d2xx {

// Starts a new script; handles still open from an earlier one are forgotten.
void startScript(const uint8_t* script, std::size_t size);

// Handles opened and not yet closed.
std::size_t openHandleCount();

}  // namespace fake_d2xx
