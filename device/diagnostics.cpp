#include "device/diagnostics.h"

#include <cstdio>

void writeDiagnostic(const char* where, const std::string& message) {
    std::string line(where);
    line += message;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}
