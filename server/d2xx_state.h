// What D2XX said when usb3k-server last listed the USB-3000s: the failure that leaves the server no
// device at all (the D2XX library not loaded, the devices not listed), or how many it listed. The
// log, /readyz and --check-config tell it in the same words.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct D2xxState {
    // Empty when D2XX loaded and listed the devices; else what failed, in the library's words.
    std::string failure;
    // The failure's likely cause (empty when not known) and its fix, from the device layer's table.
    std::string cause;
    std::string fix;
    // When it listed: the USB-3000s attached.
    std::size_t usb3000s = 0;
};

// While D2XX fails: "no USB-3000 can be used: <failure>", then "likely cause: ..." when it is
// known, and "to fix: ...", as usb3k-probe writes them.
std::vector<std::string> d2xxTroubleLines(const D2xxState& state);

// One line: "loaded, 2 USB-3000s attached", or the failure.
std::string d2xxSummary(const D2xxState& state);
