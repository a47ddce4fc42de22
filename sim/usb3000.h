// The software USB-3000: what the device does with the bytes the host writes, and how its answers
// travel back, faults included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_state.h"

namespace sim {

// The bytes of one write reach the device at `arrival`. A USB-3000 reads them as requests and
// sends an answer to each, behind any answers still held back; any other FTDI device takes them
// and stays silent. Packets the device refuses (bad start byte, incomplete, bad parity,
// malformed) are not answered; while the transcript records, the result holds one line for each.
std::vector<std::string> deliverToDevice(State& state, Device& device, const uint8_t* bytes,
                                         std::size_t count, Clock::time_point arrival);

}  // namespace sim
