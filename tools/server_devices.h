// A usb3k-server's device list, as GET /v1/devices gives it.
#pragma once

#include <string>
#include <vector>

struct ServerDevice {
    std::string serialNumber;
    std::string description;
    bool usable = false;
    std::string productId;
    std::string version;
    std::string reason;  // why it is not usable; empty when it is
    std::string state;   // free, busy or away
};

// Reads the JSON array of device objects; false with `error` saying what is wrong with it.
bool parseServerDevices(const std::string& json, std::vector<ServerDevice>& devices,
                        std::string& error);
