#include "sim/sim_state.h"

#include "sim/usb3k_sim.h"

namespace sim {

bool Device::isUsb3000() const {
    return id == SIM_USB3000_ID;
}

Target Target::of(const char* serial) {
    Target target;
    if (serial != nullptr) {
        target.anyDevice = false;
        target.serial = serial;
    }
    return target;
}

bool Target::matches(const std::string& deviceSerial) const {
    return anyDevice || serial == deviceSerial;
}

void State::powerOn() {
    clearDevices();
    addDevice(SIM_USB3000_ID, SIM_DEFAULT_SERIAL, SIM_DEFAULT_DESCRIPTION);
    callFaults.clear();
    shortWrites.clear();
    answerRules.clear();
    callsOnAnyDevice.fill(0);
    callsPerDevice.clear();
    transcript.clear();
    recording = true;
    paced = false;
}

void State::clearDevices() {
    devices.clear();
    handles.clear();
}

std::size_t State::addDevice(unsigned id, const std::string& serial,
                             const std::string& description) {
    Device device;
    device.id = id;
    device.serial = serial;
    device.description = description;
    devices.push_back(std::move(device));
    return devices.size() - 1;
}

Device* State::findBySerial(const std::string& serial) {
    for (Device& device : devices) {
        if (device.serial == serial) {
            return &device;
        }
    }
    return nullptr;
}

Device* State::findByHandle(const void* handle) {
    // Handles are compared as numbers and never dereferenced, so any value is safe to pass.
    auto found = handles.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == handles.end() ? nullptr : &devices[found->second];
}

std::uintptr_t State::newHandle() {
    static std::uintptr_t next = 0x3000;
    next += 0x10;
    return next;
}

State& state() {
    static State instance;
    return instance;
}

std::mutex& stateLock() {
    static std::mutex lock;
    return lock;
}

}  // namespace sim
