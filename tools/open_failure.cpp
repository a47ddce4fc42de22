#include "tools/open_failure.h"

#include "device/device_list.h"
#include "tools/device_flags.h"
#include "tools/ftdi_sio.h"

std::string openFailureCause(const FT_DEVICE_LIST_INFO_NODE& entry, FT_STATUS status) {
    if ((entry.Flags & DEVICE_FLAG_OPENED) != 0) {
        // The probe opens nothing before it reads the list.
        return "another process has the device open (D2XX lists it as opened); close that "
               "program, then probe again";
    }
    if (status == FT_DEVICE_NOT_OPENED) {
        const std::string cause = ftdiSioCause(serialNumberOf(entry));
        if (!cause.empty()) {
            return cause;
        }
    }
    if (status == FT_DEVICE_NOT_FOUND) {
        return "the device was gone when it was opened; check its cable, then probe again";
    }
    return "not known; unplug the device, plug it in again and probe again";
}
