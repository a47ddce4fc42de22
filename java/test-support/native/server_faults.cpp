// Loaded ahead of usb3k-server (LD_PRELOAD) by the Java tests of remote decoders: sets up the
// emulated D2XX the server will use, before the server starts, from the environment:
//   USB3K_TEST_DEVICES=SERIAL,SERIAL...   the USB-3000s attached, in place of the default one
//   USB3K_TEST_FAULTS=SERIAL:REQUEST:OCCURRENCE:FAULT:VALUE;...   answers to fail
//   USB3K_TEST_PACED=1   the devices take a real device's time for each frame
#include <cstdlib>
#include <sstream>
#include <string>

#include "sim/usb3k_sim.h"

namespace {

void attachDevices(const char* list) {
    sim_clear_devices();
    std::istringstream serials(list);
    for (std::string serial; std::getline(serials, serial, ',');)
        sim_add_device(SIM_USB3000_ID, serial.c_str(), SIM_DEFAULT_DESCRIPTION);
}

void addFaults(const char* list) {
    std::istringstream faults(list);
    for (std::string fault; std::getline(faults, fault, ';');) {
        std::istringstream fields(fault);
        std::string serial, request, occurrence, kind, value;
        if (std::getline(fields, serial, ':') && std::getline(fields, request, ':') &&
            std::getline(fields, occurrence, ':') && std::getline(fields, kind, ':') &&
            std::getline(fields, value, ':'))
            sim_fault_answer(serial.c_str(), std::stoi(request), std::stoi(occurrence),
                             std::stoi(kind), std::stoi(value));
    }
}

__attribute__((constructor)) void setUpEmulator() {
    if (const char* devices = std::getenv("USB3K_TEST_DEVICES"))
        attachDevices(devices);
    if (const char* faults = std::getenv("USB3K_TEST_FAULTS"))
        addFaults(faults);
    if (const char* paced = std::getenv("USB3K_TEST_PACED"))
        sim_set_paced(std::atoi(paced));
}

}  // namespace
