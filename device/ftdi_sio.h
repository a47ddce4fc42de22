// Linux's ftdi_sio driver takes an FTDI chip as a serial port while it is bound to the chip's USB
// interface, and D2XX cannot open the chip then. Other systems have no such driver
// (ftdi_sio_other.cpp).
#pragma once

#include <string>

// The sysfs tree, and under it the driver's folder: one entry per interface it is bound to, and
// the file `unbind` that frees one.
constexpr const char* SYS_ROOT = "/sys";
constexpr const char* FTDI_SIO_FOLDER = "/bus/usb/drivers/ftdi_sio";

// Whether this system has the driver, so that it may be what holds a chip.
bool systemHasFtdiSio();

// The USB interface ("1-1.2:1.0") the driver is bound to for the chip with this serial number,
// looked up in the sysfs tree at `sysRoot` (SYS_ROOT); "" when it holds no such chip.
std::string ftdiSioBusPath(const std::string& sysRoot, const std::string& serialNumber);
