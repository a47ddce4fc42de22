#pragma once

#include "bridge/bridge_state.h"

// Selects the first USB-3000 of the device list and brings it into the state decoding needs:
// reset, codec stopped (packet mode), rate table 34. On failure stores the reason in
// state.initError, writes it to standard error and returns false. The caller holds state.lock.
bool initializeDevice(BridgeState& state);

// Closes every device by destroying the device list and releases them for decoders; with no list
// (no initialize since the last shutdown) it opens nothing. The caller holds state.lock.
void shutdownDevices(BridgeState& state);
