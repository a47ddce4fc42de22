#include "sim/sim_state.h"

#include <algorithm>

#include "d2xx/d2xx.h"
#include "sim/usb3k_sim.h"

namespace sim {
namespace {

// The seed of a device's draws, from its serial number (FNV-1a): the same on every target, so
// that a run repeats exactly on each.
std::uint_fast32_t seedFor(const std::string& serial) {
    std::uint32_t hash = 2166136261u;
    for (const char c : serial) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    }
    return hash;
}

}  // namespace

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
    unplugged.clear();
    replugBehaviour.clear();
    openRefusals.clear();
    removedHandleStatus = FT_INVALID_HANDLE;
    plugEventsPlanned = false;
    callFaults.clear();
    shortWrites.clear();
    answerRules.clear();
    callsOnAnyDevice.fill(0);
    callsPerDevice.clear();
    transcript.clear();
    recording = true;
    timing = false;
    paced = false;
    workMin = std::chrono::microseconds(DEFAULT_WORK_MIN_US);
    workMax = std::chrono::microseconds(DEFAULT_WORK_MAX_US);
}

void State::clearDevices() {
    devices.clear();
    handles.clear();
    removedHandles.clear();
}

unsigned State::locationIdAt(std::size_t index) const {
    const unsigned firstByPlace = 0x11;
    return devices[index].locationId != 0 ? devices[index].locationId
                                          : firstByPlace + static_cast<unsigned>(index);
}

std::size_t State::addDevice(unsigned id, const std::string& serial,
                             const std::string& description) {
    Device device;
    device.id = id;
    device.serial = serial;
    device.description = description;
    device.random.seed(seedFor(serial));
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

Clock::time_point State::hostNow(const Device& device) const {
    return paced ? Clock::now() : device.now;
}

Clock::time_point State::endCallAt(Device& device, Clock::time_point wake) const {
    if (paced) {
        return wake;
    }
    device.now = std::max(device.now, wake);
    return {};
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
