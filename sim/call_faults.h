// Counting D2XX calls and deciding which of them fail or write short, as the tests asked.
#pragma once

#include <string>

#include "d2xx/d2xx.h"
#include "sim/d2xx_functions.h"
#include "sim/sim_state.h"

namespace sim {

// Counts one call of `function`, on the device with this serial number (null: a call that names
// no device, such as the device-list calls or a call on an invalid handle). Returns true and sets
// `status` when a fault says that this call fails.
bool callFails(State& state, const std::string* serial, D2xxFunction function, FT_STATUS& status);

// Calls of `function` since sim_reset(), as occurrences count them: on the target's device, or
// on any device (calls that name no device included).
int callCount(const State& state, const Target& target, D2xxFunction function);

// How many of `requested` bytes the current FT_Write on this device accepts. Call after
// callFails() has counted the write.
unsigned acceptedByWrite(const State& state, const std::string& serial, unsigned requested);

}  // namespace sim
