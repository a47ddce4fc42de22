#include "device/usb3k_factory.h"

#include <string>

#include "device/device_list.h"
#include "device/diagnostics.h"

namespace {

constexpr const char* FACTORY = "USB3KFactory::USB3KFactory";

}  // namespace

USB3KFactory::USB3KFactory() {
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
    for (const FT_DEVICE_LIST_INFO_NODE& entry : list.entries) {
        if (isUsb3000(entry)) {
            devices.push_back(std::make_unique<USB3K>(serialNumberOf(entry)));
        }
    }
}

USB3KFactory::~USB3KFactory() {
    for (auto& device : devices) {
        device.reset();
    }
}
