// usb3k-probe: a plain-text report a user at a machine with a USB-3000 can paste into a bug
// report. It names the D2XX library in use, lists every FTDI device D2XX reports, and checks each
// USB-3000 as the library uses it.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// The program's exit statuses.
enum ProbeStatus : int {
    PROBE_OK = 0,             // every USB-3000 probed fine (or --help, --version)
    PROBE_DEVICE_FAILED = 1,  // a USB-3000 failed to open, identify, run a command or decode
    PROBE_USAGE = 2,          // wrong arguments
    PROBE_NO_D2XX = 3,        // no D2XX library could be loaded
    PROBE_NO_USB3000 = 4,     // no USB-3000 found, or none with the serial number asked for
    PROBE_SERVER_FAILED = 5,  // --server: not reached, not trusted, the token refused, or draining
};

// Runs the probe with the arguments that follow the program's name, writes the report to `out`
// and returns the exit status. The library's own lines go to standard error, as they always do.
int runProbe(const std::vector<std::string>& args, std::ostream& out);
