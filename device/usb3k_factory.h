#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/usb3k.h"

// The environment variable that limits the device list to the USB-3000 with that serial number.
constexpr const char* SERIAL_VARIABLE = "USB3K_SERIAL";

// Finds every attached USB-3000 through the D2XX device list and opens each one, in list order.
// Devices that could not be opened or identified stay in the list with ready == false.
class USB3KFactory {
  public:
    // Says whether this list may open the USB-3000 with that serial number; a device it may not
    // open is left out with a line. Lets the list share the devices with other users in the
    // process.
    using MayOpen = std::function<bool(const std::string& serialNumber)>;

    USB3KFactory();
    explicit USB3KFactory(MayOpen mayOpen);
    virtual ~USB3KFactory();

    USB3KFactory(const USB3KFactory&) = delete;
    USB3KFactory& operator=(const USB3KFactory&) = delete;

    std::size_t size() const { return devices.size(); }
    USB3K* at(std::size_t index) const { return devices.at(index).get(); }

  private:
    std::vector<std::unique_ptr<USB3K>> devices;
};
