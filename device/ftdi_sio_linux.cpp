// Finding where Linux's ftdi_sio driver holds an FTDI chip, through /sys.
#include <filesystem>
#include <fstream>
#include <system_error>

#include "device/ftdi_sio.h"

namespace {

// Under the sysfs root: the USB devices, each with its serial number.
constexpr const char* DEVICES_FOLDER = "/bus/usb/devices/";

// The first line of a sysfs file, without its line feed; "" when it cannot be read.
std::string firstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

}  // namespace

bool systemHasFtdiSio() {
    return true;
}

std::string ftdiSioBusPath(const std::string& sysRoot, const std::string& serialNumber) {
    namespace fs = std::filesystem;
    if (serialNumber.empty()) {
        // A device without a serial-number file would match it.
        return std::string();
    }
    std::error_code error;
    for (fs::directory_iterator entry(sysRoot + FTDI_SIO_FOLDER, error), end;
         !error && entry != end; entry.increment(error)) {
        // An interface is named bus-ports:configuration.interface ("1-1.2:1.0"), its device by
        // the part before the colon; the driver's own files (bind, unbind, module) have no colon.
        const std::string name = entry->path().filename().string();
        const std::size_t colon = name.find(':');
        if (colon != std::string::npos &&
            firstLine(sysRoot + DEVICES_FOLDER + name.substr(0, colon) + "/serial") ==
                serialNumber) {
            return name;
        }
    }
    return std::string();
}
