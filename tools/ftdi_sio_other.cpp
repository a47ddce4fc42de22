// Systems without Linux's ftdi_sio driver: nothing can hold an FTDI chip that way.
#include "tools/ftdi_sio.h"

std::string ftdiSioCause(const std::string&) {
    return std::string();
}

std::string ftdiSioBusPath(const std::string&, const std::string&) {
    return std::string();
}
