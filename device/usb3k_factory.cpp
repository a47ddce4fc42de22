#include "device/usb3k_factory.h"

#include <cstdlib>
#include <string>

#include "d2xx/d2xx_api.h"
#include "device/device_list.h"
#include "device/diagnostics.h"

namespace {

constexpr const char* FACTORY = "USB3KFactory::USB3KFactory";
constexpr const char* SERIAL_VARIABLE = "USB3K_SERIAL";

}  // namespace

USB3KFactory::USB3KFactory() {
    std::string reason;
    if (!loadD2xx(reason)) {
        writeDiagnostic(FACTORY, " - " + reason);
        return;
    }
    const DeviceListReading list = readDeviceList();
    switch (list.outcome) {
        case DeviceListReading::Outcome::CountFailed:
            writeDiagnostic(FACTORY,
                            " - FT_CreateDeviceInfoList failed: " + std::to_string(list.status));
            return;
        case DeviceListReading::Outcome::NoDevices:
            writeDiagnostic(FACTORY, " - No USB devices detected");
            return;
        case DeviceListReading::Outcome::ListFailed:
            writeDiagnostic(FACTORY,
                            " - FT_GetDeviceInfoList failed: " + std::to_string(list.status));
            return;
        case DeviceListReading::Outcome::Listed:
            break;
    }
    // With USB3K_SERIAL set, this process opens that one device and leaves the others free for
    // other processes.
    const char* wanted = std::getenv(SERIAL_VARIABLE);
    const bool onlyOne = wanted != nullptr && *wanted != '\0';
    for (const FT_DEVICE_LIST_INFO_NODE& entry : list.entries) {
        if (isUsb3000(entry) && (!onlyOne || serialNumberOf(entry) == wanted)) {
            devices.push_back(std::make_unique<USB3K>(serialNumberOf(entry)));
        }
    }
    if (onlyOne && devices.empty()) {
        writeDiagnostic(FACTORY, std::string(" - no USB-3000 with serial number ") + wanted + " (" +
                                     SERIAL_VARIABLE + ")");
    }
}

USB3KFactory::~USB3KFactory() {
    for (auto& device : devices) {
        device.reset();
    }
}
