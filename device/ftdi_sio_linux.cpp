// Finding where Linux's ftdi_sio driver holds an FTDI chip, through /sys.

// 64-bit inode numbers for readdir on 32-bit targets too, which would otherwise stop at the
// first entry whose number does not fit 32 bits.
#define _FILE_OFFSET_BITS 64

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <memory>

#include "device/ftdi_sio.h"

namespace {

// Under the sysfs root: the USB devices, each with its serial number.
constexpr const char* DEVICES_FOLDER = "/bus/usb/devices/";

// The first line of a small sysfs file, without its line feed; "" when it cannot be read. Read
// with open and read: the C++ streams would tie the library to a newer C library (fstat64).
std::string firstLine(const std::string& path) {
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0) {
        return std::string();
    }
    char bytes[256];
    const ssize_t count = read(file, bytes, sizeof bytes);
    close(file);
    const std::string text(bytes, count > 0 ? static_cast<std::size_t>(count) : 0);
    return text.substr(0, text.find('\n'));
}

}  // namespace

bool systemHasFtdiSio() {
    return true;
}

std::string ftdiSioBusPath(const std::string& sysRoot, const std::string& serialNumber) {
    if (serialNumber.empty()) {
        // A device without a serial-number file would match it.
        return std::string();
    }
    // opendir and readdir rather than std::filesystem, whose stat calls would tie the library to
    // a newer C library.
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir((sysRoot + FTDI_SIO_FOLDER).c_str()),
                                                     closedir);
    if (!folder) {
        return std::string();
    }
    while (const dirent* entry = readdir(folder.get())) {
        // An interface is named bus-ports:configuration.interface ("1-1.2:1.0"), its device by
        // the part before the colon; the driver's own files (bind, unbind, module) have no colon.
        const std::string name = entry->d_name;
        const std::size_t colon = name.find(':');
        if (colon != std::string::npos &&
            firstLine(sysRoot + DEVICES_FOLDER + name.substr(0, colon) + "/serial") ==
                serialNumber) {
            return name;
        }
    }
    return std::string();
}
