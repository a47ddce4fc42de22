// The transcript: one line per D2XX call, in call order, and one line per packet the emulated
// device refused. The line forms are documented in usb3k_sim.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "sim/sim_state.h"

namespace sim {

// Appends the line `makeLine()` returns and an end of line. While recording is off the line is
// not built at all: formatting the bytes of every exchange would cost far more than the exchange.
template <typename MakeLine>
void record(State& state, MakeLine&& makeLine) {
    if (state.recording) {
        state.transcript += makeLine();
        state.transcript += '\n';
    }
}

// " 61 00 03": each byte as a space and two lowercase hexadecimal digits.
std::string hexList(const uint8_t* bytes, std::size_t count);

// How a call names its device: the serial number, or "?" for a handle that is not open.
std::string deviceName(const Device* device);

}  // namespace sim
