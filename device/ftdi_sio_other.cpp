// Systems without Linux's ftdi_sio driver: nothing can hold an FTDI chip that way.
#include "device/ftdi_sio.h"

bool systemHasFtdiSio() {
    return false;
}

std::string ftdiSioBusPath(const std::string&, const std::string&) {
    return std::string();
}
