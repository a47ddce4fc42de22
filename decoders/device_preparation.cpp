#include "decoders/device_preparation.h"

#include "device/command_result.h"

std::string prepareForDecoding(USB3K& device) {
    if (!device.ready) {
        return notReadyMessage(device);
    }
    if (device.reset() != COMMAND_ACCEPTED) {
        return "Cannot reset USB-3000 device " + device.serialNumber;
    }
    if (device.stopCodec() != COMMAND_ACCEPTED) {
        return "Cannot set packet mode for USB-3000 device " + device.serialNumber;
    }
    if (device.setRate() != COMMAND_ACCEPTED) {
        return "Cannot set table rate 34 for USB-3000 device " + device.serialNumber;
    }
    return "";
}

std::string notReadyMessage(const USB3K& device) {
    return "USB-3000 device " + device.serialNumber + " is not ready";
}
