// The D2XX functions the library calls, found at run time in the D2XX library: FTDI's driver, or
// the emulator standing in for it. Nothing links against D2XX, so a machine without FTDI's driver
// can still load the library and hear "no device". This table is the one place that knows the
// functions' names.
#pragma once

#include <string>

#include "d2xx/d2xx.h"

struct D2xxApi {
    // How many FTDI devices are attached; builds the list the next call reads.
    decltype(&FT_CreateDeviceInfoList) createDeviceInfoList;
    // One record per attached device: flags, type, ID, location, serial number, description.
    decltype(&FT_GetDeviceInfoList) getDeviceInfoList;
    // Opens a device by serial number.
    decltype(&FT_OpenEx) openEx;
    // The serial link's settings: data bits, stop bits and parity; flow control; the RTS line;
    // baud rate; latency timer; USB transfer sizes; read and write time-outs.
    decltype(&FT_SetDataCharacteristics) setDataCharacteristics;
    decltype(&FT_SetFlowControl) setFlowControl;
    decltype(&FT_ClrRts) clrRts;
    decltype(&FT_SetBaudRate) setBaudRate;
    decltype(&FT_SetLatencyTimer) setLatencyTimer;
    decltype(&FT_SetUSBParameters) setUSBParameters;
    decltype(&FT_SetTimeouts) setTimeouts;
    // Bytes to the device, and bytes from it (bounded by the read time-out).
    decltype(&FT_Write) write;
    decltype(&FT_Read) read;
    // How many received bytes wait to be read.
    decltype(&FT_GetQueueStatus) getQueueStatus;
    // Discards what waits to be read (FT_PURGE_RX) or to be sent (FT_PURGE_TX).
    decltype(&FT_Purge) purge;
    // Closes a device.
    decltype(&FT_Close) close;
};

// Loads the D2XX library and finds every function in it, unless that was done already; true
// when the table is ready. On failure `reason` names what is missing and why, and the next call
// tries again, so a driver installed meanwhile is found.
bool loadD2xx(std::string& reason);

// The table. Before a successful load every function fails with FT_DEVICE_NOT_FOUND (and reports
// no device, no bytes), so code that runs without a driver fails the way a missing device does.
const D2xxApi& d2xx();

// Puts a program's own D2XX functions in place of a loaded library (a fuzzer's, for one). Later
// loads keep them.
void useD2xxFunctions(const D2xxApi& functions);

// True when the loaded D2XX library is the emulator (it exports the emulator's control API),
// false for FTDI's driver or when none is loaded.
bool d2xxIsEmulator();
