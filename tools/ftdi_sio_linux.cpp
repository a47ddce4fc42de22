// Finding where Linux's ftdi_sio driver holds an FTDI chip, through /sys.
#include <filesystem>
#include <fstream>
#include <system_error>

#include "tools/ftdi_sio.h"

namespace {

constexpr const char* SYS_ROOT = "/sys";
// Under the sysfs root: the driver's folder, which holds one entry per interface it is bound to
// and the file that unbinds one; and the USB devices, each with its serial number.
constexpr const char* DRIVER_FOLDER = "/bus/usb/drivers/ftdi_sio";
constexpr const char* DEVICES_FOLDER = "/bus/usb/devices/";

// The first line of a sysfs file, without its line feed; "" when it cannot be read.
std::string firstLine(const std::string& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

}  // namespace

std::string ftdiSioCause(const std::string& serialNumber) {
    const std::string busPath = ftdiSioBusPath(SYS_ROOT, serialNumber);
    const std::string held =
        busPath.empty() ? " while it is bound to it" : " (bound to " + busPath + ")";
    return "the kernel's ftdi_sio driver holds the chip" + held +
           "; fix: sudo rmmod ftdi_sio usbserial, or unbind only this device: echo " +
           (busPath.empty() ? "<bus path>" : busPath) + " | sudo tee " + SYS_ROOT + DRIVER_FOLDER +
           "/unbind";
}

std::string ftdiSioBusPath(const std::string& sysRoot, const std::string& serialNumber) {
    namespace fs = std::filesystem;
    if (serialNumber.empty()) {
        // A device without a serial-number file would match it.
        return std::string();
    }
    std::error_code error;
    for (fs::directory_iterator entry(sysRoot + DRIVER_FOLDER, error), end; !error && entry != end;
         entry.increment(error)) {
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
