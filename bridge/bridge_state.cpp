#include "bridge/bridge_state.h"

#include "decoders/device_registry.h"

BridgeState& bridgeState() {
    static BridgeState* const state = new BridgeState();
    return *state;
}

USB3KFactory& obtainFactory(BridgeState& state) {
    if (!state.factory) {
        // The list leaves out the devices that decoders hold, and holds the others until shutdown.
        state.factory = std::make_unique<USB3KFactory>([](const std::string& serialNumber) {
            DeviceRegistry::Holder holder;
            return deviceRegistry().claim(serialNumber, DeviceRegistry::Holder::Bridge, holder);
        });
    }
    return *state.factory;
}
