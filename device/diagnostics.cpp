#include "device/diagnostics.h"

#include <cstdio>

namespace {

// The innermost capture of the calling thread, or none: per thread, so that one thread's
// operation never collects another's lines.
thread_local DiagnosticCapture* activeCapture = nullptr;

}  // namespace

DiagnosticCapture::DiagnosticCapture()
    : DiagnosticCapture(activeCapture == nullptr || activeCapture->toStandardError_) {}

DiagnosticCapture::DiagnosticCapture(bool toStandardError)
    : enclosing_(activeCapture), toStandardError_(toStandardError) {
    activeCapture = this;
}

DiagnosticCapture::~DiagnosticCapture() {
    activeCapture = enclosing_;
}

void DiagnosticCapture::keepAndWrite(std::string line) {
    for (DiagnosticCapture* capture = activeCapture; capture != nullptr;
         capture = capture->enclosing_) {
        capture->lines_.push_back(line);
    }
    if (activeCapture == nullptr || activeCapture->toStandardError_) {
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
    }
}

void writeDiagnostic(const char* where, const std::string& message) {
    DiagnosticCapture::keepAndWrite(where + message);
}

void writeTraceLine(const std::string& line) {
    DiagnosticCapture::keepAndWrite(line);
}

std::string failureMessage(const std::vector<std::string>& lines) {
    if (lines.empty()) {
        return "the usb3k library failed and wrote no line";
    }
    const std::string& last = lines.back();
    const std::size_t separator = last.find(" - ");
    return separator == std::string::npos ? last : last.substr(separator + 3);
}
