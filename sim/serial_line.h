// The timing model of the way back from the device to the host. The device sends its answers
// byte by byte over the serial line; the FTDI chip gathers them and hands them to the host in USB
// packets of at most 62 bytes: a full one at once, a partial one when its latency timer runs out.
// The timer restarts with every packet; a byte that finds the chip idle, with the timer already
// run out, starts it afresh. Bytes reach the host's read queue only when their packet does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/sim_state.h"

namespace sim {

// The data bytes of one full USB packet from a full-speed FTDI chip (64, less 2 status bytes).
constexpr std::size_t USB_PACKET_DATA = 62;

// The device sends `bytes` over the line, starting at `start` or once the line is free, whichever
// is later.
void sendOverLine(Device& device, const std::vector<uint8_t>& bytes, Clock::time_point start);

// Everything the chip has handed on by `now` joins the read queue.
void settle(Device& device, Clock::time_point now);

// The earliest time, at most `deadline`, by which the read queue will hold `count` bytes if
// nobody takes any; `deadline` when it will not. Call after settle().
Clock::time_point timeWhenQueued(const Device& device, std::size_t count,
                                 Clock::time_point deadline);

// The time one frame's exchange takes with nothing else on the line, at 460800 baud with a
// latency timer of `latencyMs`: the request crosses the line, the device works for its mean
// time, the answer's full USB packets cross, and its last partial packet waits for the timer.
double modelFrameSeconds(const State& state, unsigned latencyMs);

// Forgets every byte still on its way to the host.
void clearLine(Device& device);

}  // namespace sim
