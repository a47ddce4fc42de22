#include "bridge/bridge_lifecycle.h"

#include "d2xx/d2xx_api.h"
#include "decoders/device_preparation.h"
#include "decoders/device_registry.h"
#include "device/diagnostics.h"

namespace {

// Stores the reason initialize failed and writes it as a line of its own, with no qualified name
// in front: it is the message the Java application reads back through getInitError.
bool fail(BridgeState& state, std::string message) {
    state.initError = std::move(message);
    writeDiagnostic("", state.initError);
    return false;
}

// Whether D2XX refuses every call on the device's handle, as on the handle of a device that was
// unplugged: plugged back in, it has to be opened anew.
bool handleDead(const USB3K& device) {
    DWORD queued = 0;
    return device.handle == nullptr || d2xx().getQueueStatus(device.handle, &queued) != FT_OK;
}

}  // namespace

bool initializeDevice(BridgeState& state) {
    if (state.currentDeviceRemoved) {
        shutdownDevices(state);
    }
    const bool listedBefore = state.factory != nullptr;
    USB3KFactory& factory = obtainFactory(state);
    state.currentDevice = factory.size() > 0 ? factory.at(0) : nullptr;

    USB3K* device = state.currentDevice;
    if (device == nullptr) {
        return fail(state, "No USB-3000 devices detected");
    }
    const std::string failure = prepareForDecoding(*device);
    if (!failure.empty() && listedBefore && handleDead(*device)) {
        // Unplugged since the list was made, and perhaps plugged back in: the list is made anew.
        shutdownDevices(state);
        return initializeDevice(state);
    }
    if (!failure.empty()) {
        return fail(state, failure);
    }
    return true;
}

void shutdownDevices(BridgeState& state) {
    // The current device belongs to the list: forget it before the list goes.
    state.currentDevice = nullptr;
    state.currentDeviceRemoved = false;
    state.factory.reset();
    state.chunkBuffers = ChunkBuffers{};
    // Only once the devices are closed may a decoder open them.
    deviceRegistry().releaseBridge();
}
