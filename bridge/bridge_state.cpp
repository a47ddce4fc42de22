#include "bridge/bridge_state.h"

BridgeState& bridgeState() {
    static BridgeState* const state = new BridgeState();
    return *state;
}

USB3KFactory& obtainFactory(BridgeState& state) {
    if (!state.factory) {
        state.factory = std::make_unique<USB3KFactory>();
    }
    return *state.factory;
}
