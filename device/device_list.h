// D2XX's list of attached FTDI devices, read once, and what the library reads of its records.
#pragma once

#include <string>
#include <vector>

#include "d2xx/d2xx.h"

struct DeviceListReading {
    enum class Outcome {
        Listed,       // `entries` holds the records the driver filled
        CountFailed,  // FT_CreateDeviceInfoList failed with `status`
        NoDevices,    // the driver counts no FTDI device at all
        ListFailed,   // FT_GetDeviceInfoList failed with `status`
    };
    Outcome outcome = Outcome::Listed;
    FT_STATUS status = FT_OK;
    std::vector<FT_DEVICE_LIST_INFO_NODE> entries;
};

DeviceListReading readDeviceList();

// Why a reading that is not Listed failed, as the message of a diagnostic line (" - ...").
std::string listFailureMessage(const DeviceListReading& reading);

// Whether the record is a USB-3000's FTDI chip.
bool isUsb3000(const FT_DEVICE_LIST_INFO_NODE& entry);

// The record's texts, which carry no terminating zero when they fill their field.
std::string serialNumberOf(const FT_DEVICE_LIST_INFO_NODE& entry);
std::string descriptionOf(const FT_DEVICE_LIST_INFO_NODE& entry);

// After a failed exchange: whether D2XX still lists a USB-3000 with this serial number. A list that
// cannot be read, or a D2XX library that cannot be loaded, says nothing either way: true.
bool usb3000StillListed(const std::string& serialNumber);
