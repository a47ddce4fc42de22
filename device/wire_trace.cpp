#include "device/wire_trace.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "device/diagnostics.h"
#include "packet/hex_dump.h"

namespace {

constexpr char TRACE_PREFIX[] = "usb3k-trace ";

}  // namespace

bool wireTraceWanted() {
    const char* value = std::getenv("USB3K_TRACE");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

void traceBytes(const char* direction, const uint8_t* bytes, std::size_t count) {
    std::string line = TRACE_PREFIX + hexDump(direction, bytes, count);
    line.pop_back();  // the end of line, which writeTraceLine adds
    writeTraceLine(line);
}

bool isTraceLine(const std::string& line) {
    return line.compare(0, sizeof TRACE_PREFIX - 1, TRACE_PREFIX) == 0;
}
