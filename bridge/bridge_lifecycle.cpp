#include "bridge/bridge_lifecycle.h"

#include "device/command_result.h"
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
    if (!device->ready) {
        return fail(state, "USB-3000 device " + device->serialNumber + " is not ready");
    }
    // Each command writes its own line on failure; any result but 0, a device status byte
    // included, means the device is not usable for decoding.
    if (device->reset() != COMMAND_ACCEPTED) {
        return fail(state, "Cannot reset USB-3000 device " + device->serialNumber);
    }
    if (device->stopCodec() != COMMAND_ACCEPTED) {
        return fail(state, "Cannot set packet mode for USB-3000 device " + device->serialNumber);
    }
    if (device->setRate() != COMMAND_ACCEPTED) {
        return fail(state, "Cannot set table rate 34 for USB-3000 device " + device->serialNumber);
    }
    return true;
}

void shutdownDevices(BridgeState& state) {
    obtainFactory(state);
    // The current device belongs to the list: forget it before the list goes.
    state.currentDevice = nullptr;
    state.factory.reset();
}
