#pragma once

#include <string>
#include <vector>

// One diagnostic line on standard error: the operation's qualified name, the message (which
// begins with " - "), and an end of line, written in one piece. While the calling thread has a
// DiagnosticCapture, the line is also kept there, without its end of line.
void writeDiagnostic(const char* where, const std::string& message);

// Keeps the lines this thread writes while it lives, in order, so that a caller can hand the
// reasons of one operation back with its result. Captures nest: the innermost one keeps the lines.
class DiagnosticCapture {
  public:
    DiagnosticCapture();
    ~DiagnosticCapture();
    DiagnosticCapture(const DiagnosticCapture&) = delete;
    DiagnosticCapture& operator=(const DiagnosticCapture&) = delete;

    const std::vector<std::string>& lines() const { return lines_; }
    std::vector<std::string> take() { return std::move(lines_); }

  private:
    friend void writeDiagnostic(const char* where, const std::string& message);

    DiagnosticCapture* enclosing_;
    std::vector<std::string> lines_;
};
