// The transcript: one line per D2XX call, in call order, and one line per packet the emulated
// device refused. The line forms are documented in usb3k_sim.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/sim_state.h"

namespace sim {

// " 61 00 03": each byte as a space and two lowercase hexadecimal digits.
std::string hexList(const uint8_t* bytes, std::size_t count);

// Appends the line and an end of line, unless recording is off.
void record(State& state, const std::string& line);

// How a call names its device: the serial number, or "?" for a handle that is not open.
std::string deviceName(const Device* device);

}  // namespace sim
