#include "decoders/device_registry.h"

#include <iterator>

bool DeviceRegistry::mayClaim(const std::string& serialNumber, Holder claimant) const {
    const auto found = held_.find(serialNumber);
    if (found != held_.end() && found->second == Holder::Probe) {
        return false;
    }
    return claimant != Holder::Probe || awaited_.count(serialNumber) == 0;
}

bool DeviceRegistry::claim(const std::string& serialNumber, Holder claimant, Holder& holder) {
    std::unique_lock<std::mutex> hold(lock_);
    const bool awaits = claimant != Holder::Probe;
    const auto awaited = awaits ? awaited_.insert(serialNumber) : awaited_.end();
    changed_.wait_for(hold, PROBE_WAIT, [&] { return mayClaim(serialNumber, claimant); });
    if (awaits) {
        awaited_.erase(awaited);
        // Probes that let this claim go first may go on.
        changed_.notify_all();
    }
    const auto inserted = held_.emplace(serialNumber, claimant);
    holder = inserted.first->second;
    return inserted.second;
}

void DeviceRegistry::release(const std::string& serialNumber) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        held_.erase(serialNumber);
    }
    changed_.notify_all();
}

void DeviceRegistry::releaseBridge() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        for (auto entry = held_.begin(); entry != held_.end();) {
            entry = entry->second == Holder::Bridge ? held_.erase(entry) : std::next(entry);
        }
    }
    changed_.notify_all();
}

int64_t DeviceRegistry::add(std::shared_ptr<DecoderDevice> device) {
    std::lock_guard<std::mutex> hold(lock_);
    decoders_.emplace(++lastHandle_, std::move(device));
    return lastHandle_;
}

std::shared_ptr<DecoderDevice> DeviceRegistry::find(int64_t handle) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = decoders_.find(handle);
    return found == decoders_.end() ? nullptr : found->second;
}

std::shared_ptr<DecoderDevice> DeviceRegistry::remove(int64_t handle) {
    std::lock_guard<std::mutex> hold(lock_);
    const auto found = decoders_.find(handle);
    if (found == decoders_.end()) {
        return nullptr;
    }
    std::shared_ptr<DecoderDevice> device = std::move(found->second);
    decoders_.erase(found);
    return device;
}

DeviceRegistry& deviceRegistry() {
    static DeviceRegistry* const registry = new DeviceRegistry();
    return *registry;
}
