// What a user can do about each kind of failure: one table of causes and fixes, whose words
// usb3k-probe prints and the Java API's exceptions carry.
#pragma once

#include <string>

#include "d2xx/d2xx.h"

enum class Trouble {
    NoD2xxLibrary,         // the D2XX library could not be loaded, or lacks a function
    DeviceListFailed,      // D2XX could not list the devices
    NoUsb3000,             // D2XX lists no USB-3000
    NoSuchSerial,          // no USB-3000 has the serial number asked for
    InUseByDecoder,        // a decoder in this process holds the device
    InUseByBridge,         // USB3KBridge in this process holds the device
    HeldByFtdiSio,         // Linux's serial driver may hold the chip (device/ftdi_sio.h)
    HeldByAnotherProcess,  // D2XX lists the device as opened by someone else
    HeldElsewhere,         // as above, seen from a JVM: another class loader's copy of the library
    GoneWhenOpened,        // FT_OpenEx did not find the device
    OpenRefused,           // FT_OpenEx failed for a reason not known
    NotReady,              // opened, but not configured, identified or prepared for decoding
    NotResponding,         // still attached, but answers nothing usable
    Gone,                  // no longer attached
};

struct Advice {
    // Why it failed, when that is known and not already in the failure's own line; else "".
    std::string cause;
    // What to do about it; "" when nothing is known.
    std::string fix;
    // The fix is commands to type: where it follows the cause on one line, it is labelled
    // "fix:" so that it is not read as more of the cause.
    bool commands = false;
};

// The cause and fix of a trouble with the device of this serial number. `again` is how the reader
// tries once more ("probe again", "try again"), for fixes that end so.
Advice adviceFor(Trouble trouble, const std::string& serialNumber, const char* again);

// Why FT_OpenEx failed with `status` for the device of this list record, which was read before
// this process opened the device.
Trouble openFailureTrouble(const FT_DEVICE_LIST_INFO_NODE& entry, FT_STATUS status);
