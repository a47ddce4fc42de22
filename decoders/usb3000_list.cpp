#include "decoders/usb3000_list.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "d2xx/d2xx_api.h"
#include "device/device_list.h"
#include "device/diagnostics.h"

HandleOutcome readUsb3000s(const char* where, std::vector<FT_DEVICE_LIST_INFO_NODE>& usb3000s) {
    std::string reason;
    if (!loadD2xx(reason)) {
        writeDiagnostic(where, " - " + reason);
        return {HandleFailure::NoD2xxLibrary, adviceFor(Trouble::NoD2xxLibrary, "", TRY_AGAIN)};
    }
    const DeviceListReading list = readDeviceList();
    if (list.outcome != DeviceListReading::Outcome::Listed &&
        list.outcome != DeviceListReading::Outcome::NoDevices) {
        writeDiagnostic(where, listFailureMessage(list));
        return {HandleFailure::DeviceListFailed,
                adviceFor(Trouble::DeviceListFailed, "", TRY_AGAIN)};
    }
    std::copy_if(list.entries.begin(), list.entries.end(), std::back_inserter(usb3000s), isUsb3000);
    return {};
}
