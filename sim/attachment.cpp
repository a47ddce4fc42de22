// Unplugging and plugging back in: sim_detach_device and sim_reattach_device of usb3k_sim.h.
#include <cstddef>
#include <string>
#include <vector>

#include "sim/sim_state.h"
#include "sim/usb3k_sim.h"

namespace {

// What identifies a detached device, to attach it again. Guarded by the state's lock.
struct Unplugged {
    unsigned id;
    std::string serial;
    std::string description;
};

std::vector<Unplugged>& unplugged() {
    static std::vector<Unplugged> devices;
    return devices;
}

// The device list loses the entry at `index`: its handles go, later ones move up one place.
void removeDevice(sim::State& state, std::size_t index) {
    for (auto entry = state.handles.begin(); entry != state.handles.end();) {
        if (entry->second == index) {
            entry = state.handles.erase(entry);
            continue;
        }
        if (entry->second > index) {
            --entry->second;
        }
        ++entry;
    }
    state.devices.erase(state.devices.begin() + static_cast<std::ptrdiff_t>(index));
}

}  // namespace

extern "C" {

int sim_detach_device(const char* serial) {
    if (serial == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(sim::stateLock());
    sim::State& state = sim::state();
    for (std::size_t i = 0; i < state.devices.size(); ++i) {
        const sim::Device& device = state.devices[i];
        if (device.serial == serial) {
            unplugged().push_back({device.id, device.serial, device.description});
            removeDevice(state, i);
            return 1;
        }
    }
    return 0;
}

int sim_reattach_device(const char* serial) {
    if (serial == nullptr) {
        return 0;
    }
    std::lock_guard<std::mutex> lock(sim::stateLock());
    sim::State& state = sim::state();
    if (state.findBySerial(serial) != nullptr) {
        return 0;
    }
    std::vector<Unplugged>& devices = unplugged();
    for (auto device = devices.begin(); device != devices.end(); ++device) {
        if (device->serial == serial) {
            state.addDevice(device->id, device->serial, device->description);
            devices.erase(device);
            return 1;
        }
    }
    return 0;
}

}  // extern "C"
