#include "device/usb3k_factory.h"

#include <cstring>
#include <string>

#include "device/diagnostics.h"

namespace {

constexpr const char* FACTORY = "USB3KFactory::USB3KFactory";
// The USB-3000's FTDI chip: vendor 0x0403, product 0x6001.
constexpr ULONG USB3000_ID = 0x04036001;

// The serial number is at most 16 bytes and carries no terminating zero when it fills them.
std::string serialNumberOf(const FT_DEVICE_LIST_INFO_NODE& node) {
    const void* zero = std::memchr(node.SerialNumber, 0, sizeof node.SerialNumber);
    const std::size_t size =
        zero != nullptr
            ? static_cast<std::size_t>(static_cast<const char*>(zero) - node.SerialNumber)
            : sizeof node.SerialNumber;
    return std::string(node.SerialNumber, size);
}

}  // namespace

USB3KFactory::USB3KFactory() {
    DWORD count = 0;
    FT_STATUS status = FT_CreateDeviceInfoList(&count);
    if (status != FT_OK) {
        writeDiagnostic(FACTORY, " - FT_CreateDeviceInfoList failed: " + std::to_string(status));
        return;
    }
    if (count == 0) {
        writeDiagnostic(FACTORY, " - No USB devices detected");
        return;
    }
    std::vector<FT_DEVICE_LIST_INFO_NODE> nodes(count);
    const DWORD capacity = count;
    status = FT_GetDeviceInfoList(nodes.data(), &count);
    if (status != FT_OK) {
        writeDiagnostic(FACTORY, " - FT_GetDeviceInfoList failed: " + std::to_string(status));
        return;
    }
    // The driver may report a different count than before; never read past what we allocated.
    for (DWORD i = 0; i < count && i < capacity; ++i) {
        if (nodes[i].ID == USB3000_ID) {
            devices.push_back(std::make_unique<USB3K>(serialNumberOf(nodes[i])));
        }
    }
}

USB3KFactory::~USB3KFactory() {
    for (auto& device : devices) {
        device.reset();
    }
}
