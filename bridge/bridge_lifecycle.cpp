#include "bridge/bridge_lifecycle.h"

#include "bridge/device_preparation.h"
#include "bridge/device_registry.h"
#include "device/diagnostics.h"

namespace {

// Stores the reason initialize failed and writes it as a line of its own, with no qualified name
// in front: it is the message the Java application reads back through getInitError.
bool fail(BridgeState& state, std::string message) {
    state.initError = std::move(message);
    writeDiagnostic("", state.initError);
    return false;
}

}  // namespace

bool initializeDevice(BridgeState& state) {
    USB3KFactory& factory = obtainFactory(state);
    state.currentDevice = factory.size() > 0 ? factory.at(0) : nullptr;

    USB3K* device = state.currentDevice;
    if (device == nullptr) {
        return fail(state, "No USB-3000 devices detected");
    }
    const std::string failure = prepareForDecoding(*device);
    if (!failure.empty()) {
        return fail(state, failure);
    }
    return true;
}

void shutdownDevices(BridgeState& state) {
    // The current device belongs to the list: forget it before the list goes.
    state.currentDevice = nullptr;
    state.factory.reset();
    state.chunkBuffers = ChunkBuffers{};
    // Only once the devices are closed may a decoder open them.
    deviceRegistry().releaseBridge();
}
