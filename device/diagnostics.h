#pragma once

#include <string>

// One diagnostic line on standard error: the operation's qualified name, the message (which
// begins with " - "), and an end of line, written in one piece.
void writeDiagnostic(const char* where, const std::string& message);
