#include "device/device_list.h"

#include <algorithm>

#include "d2xx/d2xx_api.h"
#include "device/bounded_text.h"
#include "device/usb3000_device.h"

DeviceListReading readDeviceList() {
    DeviceListReading reading;
    DWORD count = 0;
    reading.status = d2xx().createDeviceInfoList(&count);
    if (reading.status != FT_OK) {
        reading.outcome = DeviceListReading::Outcome::CountFailed;
        return reading;
    }
    if (count == 0) {
        reading.outcome = DeviceListReading::Outcome::NoDevices;
        return reading;
    }
    reading.entries.resize(count);
    reading.status = d2xx().getDeviceInfoList(reading.entries.data(), &count);
    if (reading.status != FT_OK) {
        reading.outcome = DeviceListReading::Outcome::ListFailed;
        reading.entries.clear();
        return reading;
    }
    // The driver may report fewer records than it counted before, never more than we made room
    // for.
    if (count < reading.entries.size()) {
        reading.entries.resize(count);
    }
    return reading;
}

std::string listFailureMessage(const DeviceListReading& reading) {
    switch (reading.outcome) {
        case DeviceListReading::Outcome::CountFailed:
            return " - FT_CreateDeviceInfoList failed: " + std::to_string(reading.status);
        case DeviceListReading::Outcome::NoDevices:
            return " - No USB devices detected";
        case DeviceListReading::Outcome::ListFailed:
            return " - FT_GetDeviceInfoList failed: " + std::to_string(reading.status);
        case DeviceListReading::Outcome::Listed:
            break;
    }
    return "";
}

bool isUsb3000(const FT_DEVICE_LIST_INFO_NODE& entry) {
    return entry.ID == USB3000_ID;
}

std::string serialNumberOf(const FT_DEVICE_LIST_INFO_NODE& entry) {
    return boundedText(entry.SerialNumber, sizeof entry.SerialNumber);
}

std::string descriptionOf(const FT_DEVICE_LIST_INFO_NODE& entry) {
    return boundedText(entry.Description, sizeof entry.Description);
}

bool usb3000StillListed(const std::string& serialNumber) {
    std::string reason;
    if (!loadD2xx(reason)) {
        return true;
    }
    const DeviceListReading list = readDeviceList();
    if (list.outcome == DeviceListReading::Outcome::CountFailed ||
        list.outcome == DeviceListReading::Outcome::ListFailed) {
        return true;
    }
    return std::any_of(list.entries.begin(), list.entries.end(),
                       [&](const FT_DEVICE_LIST_INFO_NODE& entry) {
                           return isUsb3000(entry) && serialNumberOf(entry) == serialNumber;
                       });
}
