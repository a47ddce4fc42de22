// Devices that come and go: unplugging, plugging back in, and what a re-plug brings (refused
// opens, a new location ID, a device that waits for a reset), with the control functions of
// usb3k_sim.h that plan them.
#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>

#include "d2xx/d2xx.h"
#include "sim/serial_line.h"
#include "sim/sim_state.h"
#include "sim/usb3k_sim.h"

namespace sim {

UnpluggedDevice& State::unplug(std::size_t index) {
    Device& device = devices[index];
    if (device.open) {
        handles.erase(device.handle);
        removedHandles[device.handle] = device.serial;
    }
    // The device list loses the entry: later devices' handles move up one place.
    for (auto& entry : handles) {
        if (entry.second > index) {
            --entry.second;
        }
    }
    UnpluggedDevice away;
    away.device = std::move(device);
    devices.erase(devices.begin() + static_cast<std::ptrdiff_t>(index));
    away.device.unplugPlanned = false;
    unplugged.push_back(std::move(away));
    return unplugged.back();
}

void State::replug(std::size_t index) {
    Device device = std::move(unplugged[index].device);
    unplugged.erase(unplugged.begin() + static_cast<std::ptrdiff_t>(index));
    // Powered on afresh: nothing open, nothing queued or on its way, no requests seen, the plain
    // channel layout. Its link's time and its generator go on.
    device.open = false;
    device.handle = 0;
    device.rate34Layout = false;
    std::fill(std::begin(device.requests), std::end(device.requests), 0);
    device.readQueue.clear();
    device.inFlight.clear();
    clearLine(device);
    device.silentUntil = {};
    device.hung = false;
    device.locationId = nextLocationId++;
    const auto behaviour = replugBehaviour.find(device.serial);
    if (behaviour != replugBehaviour.end()) {
        device.awaitsReset = behaviour->second.needsReset;
        openRefusals[device.serial] = {behaviour->second.openRefusals,
                                       behaviour->second.openRefusalStatus};
    }
    devices.push_back(std::move(device));
}

void State::applyPlugEvents(bool listCall) {
    if (!plugEventsPlanned) {
        return;
    }
    bool stillPlanned = false;
    for (std::size_t i = 0; i < devices.size();) {
        Device& device = devices[i];
        if (device.unplugPlanned && hostNow(device) >= device.unplugAt) {
            const auto awayFor = device.awayFor;
            UnpluggedDevice& away = unplug(i);
            if (awayFor.count() > 0) {
                away.replugTimed = true;
                away.replugAt = hostNow(away.device) + awayFor;
                stillPlanned = true;
            }
            continue;
        }
        stillPlanned = stillPlanned || device.unplugPlanned;
        ++i;
    }
    for (std::size_t i = 0; i < unplugged.size();) {
        UnpluggedDevice& away = unplugged[i];
        const bool listCallDue = listCall && away.listCallsLeft > 0 && --away.listCallsLeft == 0;
        const bool timeDue = away.replugTimed && hostNow(away.device) >= away.replugAt;
        if ((listCallDue || timeDue) && findBySerial(away.device.serial) == nullptr) {
            replug(i);
            continue;
        }
        stillPlanned = stillPlanned || away.replugTimed || away.listCallsLeft > 0;
        ++i;
    }
    plugEventsPlanned = stillPlanned;
}

unsigned State::unknownHandleStatus(const void* handle) const {
    const bool removed = removedHandles.count(reinterpret_cast<std::uintptr_t>(handle)) > 0;
    return removed ? removedHandleStatus : static_cast<unsigned>(FT_INVALID_HANDLE);
}

}  // namespace sim

namespace {

using Lock = std::lock_guard<std::mutex>;

// The unplugged device with this serial number, or none.
sim::UnpluggedDevice* findUnplugged(sim::State& state, const char* serial, std::size_t* index) {
    for (std::size_t i = 0; i < state.unplugged.size(); ++i) {
        if (state.unplugged[i].device.serial == serial) {
            if (index != nullptr) {
                *index = i;
            }
            return &state.unplugged[i];
        }
    }
    return nullptr;
}

// The place in the list of the attached device with this serial number; false when none has it.
bool findAttached(const sim::State& state, const char* serial, std::size_t* index) {
    for (std::size_t i = 0; i < state.devices.size(); ++i) {
        if (state.devices[i].serial == serial) {
            *index = i;
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" {

int sim_detach_device(const char* serial) {
    if (serial == nullptr) {
        return 0;
    }
    Lock lock(sim::stateLock());
    sim::State& state = sim::state();
    std::size_t index = 0;
    if (!findAttached(state, serial, &index)) {
        return 0;
    }
    state.unplug(index);
    return 1;
}

int sim_reattach_device(const char* serial) {
    if (serial == nullptr) {
        return 0;
    }
    Lock lock(sim::stateLock());
    sim::State& state = sim::state();
    std::size_t index = 0;
    if (state.findBySerial(serial) != nullptr || findUnplugged(state, serial, &index) == nullptr) {
        return 0;
    }
    state.replug(index);
    return 1;
}

int sim_unplug_after_us(const char* serial, unsigned long long after_us,
                        unsigned long long away_us) {
    if (serial == nullptr) {
        return 0;
    }
    Lock lock(sim::stateLock());
    sim::State& state = sim::state();
    sim::Device* device = state.findBySerial(serial);
    if (device == nullptr) {
        return 0;
    }
    device->unplugPlanned = true;
    device->unplugAt = state.hostNow(*device) + std::chrono::microseconds(after_us);
    device->awayFor = std::chrono::microseconds(away_us);
    state.plugEventsPlanned = true;
    return 1;
}

int sim_replug_at_list_call(const char* serial, int list_calls) {
    if (serial == nullptr || list_calls < 1) {
        return 0;
    }
    Lock lock(sim::stateLock());
    sim::State& state = sim::state();
    sim::UnpluggedDevice* away = findUnplugged(state, serial, nullptr);
    if (away == nullptr) {
        return 0;
    }
    away->listCallsLeft = list_calls;
    state.plugEventsPlanned = true;
    return 1;
}

void sim_refuse_opens_after_replug(const char* serial, int tries, unsigned int status) {
    if (serial == nullptr) {
        return;
    }
    Lock lock(sim::stateLock());
    sim::ReplugBehaviour& behaviour = sim::state().replugBehaviour[serial];
    behaviour.openRefusals = tries > 0 ? tries : 0;
    behaviour.openRefusalStatus = status;
}

void sim_needs_reset_after_replug(const char* serial, int on) {
    if (serial == nullptr) {
        return;
    }
    Lock lock(sim::stateLock());
    sim::state().replugBehaviour[serial].needsReset = on != 0;
}

void sim_set_removed_handle_status(unsigned int status) {
    Lock lock(sim::stateLock());
    sim::state().removedHandleStatus = status;
}

unsigned int sim_location_id(const char* serial) {
    if (serial == nullptr) {
        return 0;
    }
    Lock lock(sim::stateLock());
    sim::State& state = sim::state();
    std::size_t index = 0;
    return findAttached(state, serial, &index) ? state.locationIdAt(index) : 0;
}

}  // extern "C"
