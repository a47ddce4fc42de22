#include "device/usb3k_factory.h"

#include <cstdlib>
#include <string>

#include "d2xx/d2xx_api.h"
#include "device/device_list.h"
#include "device/diagnostics.h"

namespace {

constexpr const char* FACTORY = "USB3KFactory::USB3KFactory";

}  // namespace

USB3KFactory::USB3KFactory() : USB3KFactory(MayOpen()) {}

USB3KFactory::USB3KFactory(MayOpen mayOpen) {
    std::string reason;
    if (!loadD2xx(reason)) {
        writeDiagnostic(FACTORY, " - " + reason);
        return;
    }
    const DeviceListReading list = readDeviceList();
    if (list.outcome != DeviceListReading::Outcome::Listed) {
        writeDiagnostic(FACTORY, listFailureMessage(list));
        return;
    }
    // With USB3K_SERIAL set, this process opens that one device and leaves the others free for
    // other processes.
    const char* wanted = std::getenv(SERIAL_VARIABLE);
    const bool onlyOne = wanted != nullptr && *wanted != '\0';
    bool wantedListed = false;
    for (const FT_DEVICE_LIST_INFO_NODE& entry : list.entries) {
        const std::string serial = serialNumberOf(entry);
        if (!isUsb3000(entry) || (onlyOne && serial != wanted)) {
            continue;
        }
        wantedListed = true;
        if (mayOpen && !mayOpen(serial)) {
            writeDiagnostic(FACTORY,
                            " - USB-3000 " + serial + " is in use in this process: left out");
            continue;
        }
        devices.push_back(std::make_unique<USB3K>(serial));
    }
    if (onlyOne && !wantedListed) {
        writeDiagnostic(FACTORY, std::string(" - no USB-3000 with serial number ") + wanted + " (" +
                                     SERIAL_VARIABLE + ")");
    }
}

USB3KFactory::~USB3KFactory() {
    for (auto& device : devices) {
        device.reset();
    }
}
