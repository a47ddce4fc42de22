#pragma once

#include <string>
#include <vector>

// One diagnostic line on standard error: the operation's qualified name, the message (which
// begins with " - "), and an end of line, written in one piece. Every DiagnosticCapture the
// calling thread has also keeps the line, without its end of line.
void writeDiagnostic(const char* where, const std::string& message);

// One line of the wire trace (usb3k-trace), without its end of line: written and kept as a
// diagnostic line is.
void writeTraceLine(const std::string& line);

// The last of an operation's lines without the operation's name in front: what failed, in the
// library's words.
std::string failureMessage(const std::vector<std::string>& lines);

// Keeps the lines this thread writes while it lives, in order, so that a caller can hand the
// reasons of one operation back with its result. Captures nest: each one keeps every line written
// while it lives. A capture may keep its lines off standard error; a nested one does as the
// capture around it does.
class DiagnosticCapture {
  public:
    DiagnosticCapture();
    explicit DiagnosticCapture(bool toStandardError);
    ~DiagnosticCapture();
    DiagnosticCapture(const DiagnosticCapture&) = delete;
    DiagnosticCapture& operator=(const DiagnosticCapture&) = delete;

    const std::vector<std::string>& lines() const { return lines_; }
    std::vector<std::string> take() { return std::move(lines_); }

  private:
    friend void writeDiagnostic(const char* where, const std::string& message);
    friend void writeTraceLine(const std::string& line);

    // Keeps the line in every capture of the calling thread and writes it to standard error
    // unless the innermost capture keeps its lines off it.
    static void keepAndWrite(std::string line);

    DiagnosticCapture* enclosing_;
    bool toStandardError_;
    std::vector<std::string> lines_;
};
