// The way back from the device to the host: answers reach the read queue in the order the device
// sent them, each no earlier than the host event it is held back for.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/sim_state.h"

namespace sim {

// The device sends an answer at `at`. It reaches the read queue once `events` more host events
// of kind `waitsFor` have happened (none: at once) and every answer sent before it has arrived.
// In the timing model it then crosses the line (serial_line.h); otherwise it is queued at once.
void sendAnswer(const State& state, Device& device, std::vector<uint8_t> bytes, HostEvent waitsFor,
                int events, Clock::time_point at);

// One host event has happened at `at`: held answers waiting for this kind come one event closer,
// and the ones at the front whose wait is over join the read queue.
void hostEvent(const State& state, Device& device, HostEvent event, Clock::time_point at);

}  // namespace sim
