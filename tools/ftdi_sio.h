// Linux's ftdi_sio driver takes an FTDI chip as a serial port while it is bound to the chip's USB
// interface, and D2XX cannot open the chip then. Other systems have no such driver: there both
// functions answer "" (ftdi_sio_other.cpp).
#pragma once

#include <string>

// The likely cause of a failed open and its fix, as one line, when the driver may be holding the
// chip with this serial number: the interface's bus path is named when /sys shows the driver
// bound to it. "" where the system has no such driver.
std::string ftdiSioCause(const std::string& serialNumber);

// The USB interface ("1-1.2:1.0") the driver is bound to for the chip with this serial number,
// looked up in the sysfs tree at `sysRoot` ("/sys"); "" when it holds no such chip.
std::string ftdiSioBusPath(const std::string& sysRoot, const std::string& serialNumber);
