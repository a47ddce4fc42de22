#include "device/diagnostics.h"

#include <cstdio>

namespace {

// The capture of the calling thread, or none: per thread, so that one thread's operation never
// collects another's lines.
thread_local DiagnosticCapture* activeCapture = nullptr;

}  // namespace

DiagnosticCapture::DiagnosticCapture() : enclosing_(activeCapture) {
    activeCapture = this;
}

DiagnosticCapture::~DiagnosticCapture() {
    activeCapture = enclosing_;
}

void writeDiagnostic(const char* where, const std::string& message) {
    std::string line(where);
    line += message;
    if (activeCapture != nullptr) {
        activeCapture->lines_.push_back(line);
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}
