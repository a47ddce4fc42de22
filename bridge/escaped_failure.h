#pragma once

// Called from a catch block of a native method: writes the failure that would otherwise escape
// into the JVM as one line for `where` ("... - out of memory", "... - internal error: ...").
void reportEscaped(const char* where);
