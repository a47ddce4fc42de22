// Settings from the environment, read once when the emulator is loaded, for a trial of a program
// that loads it as its D2XX (usb3k-server on the emulator package, say) and for tests that start
// such a program. Never for production:
//   USB3K_EMULATOR_DEVICES=N or SERIAL,SERIAL...   N USB-3000s (EMU30001 to EMU3000N), or these,
//                                                  in place of the default one
//   USB3K_EMULATOR_PACED=1                         every device takes a real device's time
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "sim/usb3k_sim.h"

namespace {

// Serial numbers as the default one is made: EMU3 and four digits.
std::string numberedSerial(int number) {
    char serial[16];
    std::snprintf(serial, sizeof serial, "EMU3%04d", number);
    return serial;
}

void attachDevices(const std::string& setting) {
    const bool count = !setting.empty() && setting.find_first_not_of("0123456789") == setting.npos;
    if (count) {
        const int devices = std::atoi(setting.c_str());
        if (devices < 1 || devices > 9999) {
            return;
        }
        sim_clear_devices();
        for (int number = 1; number <= devices; ++number) {
            sim_add_device(SIM_USB3000_ID, numberedSerial(number).c_str(), SIM_DEFAULT_DESCRIPTION);
        }
        return;
    }
    sim_clear_devices();
    std::istringstream serials(setting);
    for (std::string serial; std::getline(serials, serial, ',');) {
        if (!serial.empty()) {
            sim_add_device(SIM_USB3000_ID, serial.c_str(), SIM_DEFAULT_DESCRIPTION);
        }
    }
}

__attribute__((constructor)) void applyEnvironment() {
    if (const char* devices = std::getenv("USB3K_EMULATOR_DEVICES")) {
        attachDevices(devices);
    }
    if (const char* paced = std::getenv("USB3K_EMULATOR_PACED")) {
        sim_set_paced(std::atoi(paced) != 0);
    }
}

}  // namespace
