// The opt-in wire trace: with USB3K_TRACE=1 in the environment when a device is opened, every
// request written and every packet read (whole, or the bytes of one that was unusable) goes to
// standard error as one line (and is kept by the thread's DiagnosticCaptures, as diagnostic lines
// are): "usb3k-trace " and the packet's hex dump, ">>: " for a request,
// "<<: " for a packet read, "<<! " for bytes that made no usable packet. The prefix keeps trace
// lines apart from diagnostic lines. Off, it costs one test of a flag per packet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Whether the environment asks for the trace (USB3K_TRACE=1).
bool wireTraceWanted();

// One trace line: `direction` is ">>: ", "<<: " or "<<! ".
void traceBytes(const char* direction, const uint8_t* bytes, std::size_t count);

// Whether a kept line is a trace line rather than a diagnostic line.
bool isTraceLine(const std::string& line);
