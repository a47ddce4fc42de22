// How long bytes take on the serial line, and waiting for it in real time when paced.
#pragma once

#include <cstddef>

#include "sim/sim_state.h"

namespace sim {

// Time the line needs for `bytes` bytes at `baudRate`, 10 bits a byte (start, 8 data, stop).
Clock::duration lineTime(std::size_t bytes, unsigned baudRate);

// Sleeps until `when`; returns at once for a time already past. Call without holding the lock.
void waitUntil(Clock::time_point when);

}  // namespace sim
