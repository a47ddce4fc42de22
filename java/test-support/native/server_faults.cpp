// Loaded ahead of usb3k-server (LD_PRELOAD) by the Java tests of remote decoders: makes answers of
// the emulated D2XX the server will use fail, before the server starts, from the environment:
//   USB3K_TEST_FAULTS=SERIAL:REQUEST:OCCURRENCE:FAULT:VALUE;...   answers to fail
// The emulator itself reads which USB-3000s are attached and whether they are paced
// (USB3K_EMULATOR_DEVICES, USB3K_EMULATOR_PACED), once it is loaded, before this library's
// constructor runs.
#include <cstdlib>
#include <sstream>
#include <string>

#include "sim/usb3k_sim.h"

namespace {

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
    if (const char* faults = std::getenv("USB3K_TEST_FAULTS"))
        addFaults(faults);
}

}  // namespace
