#include "device/wire_trace.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "packet/hex_dump.h"

bool wireTraceWanted() {
    const char* value = std::getenv("USB3K_TRACE");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

void traceBytes(const char* direction, const uint8_t* bytes, std::size_t count) {
    const std::string line = "usb3k-trace " + hexDump(direction, bytes, count);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}
