// How every part of the probe writes its report.
#pragma once

#include <ostream>
#include <string>

// One line of the report, flushed at once: the library writes its lines straight to standard
// error, and when both streams go to one file (usb3k-probe >report.txt 2>&1) each of its lines
// must land after the report line written before it.
inline void reportLine(std::ostream& out, const std::string& line) {
    out << line << std::endl;
}
