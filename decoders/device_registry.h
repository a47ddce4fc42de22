// The USB-3000s this process has open, and who holds each: the bridge's device list, one decoder
// of the handle-based interface, or a listing identifying the device for a moment. All go
// through it, so that no device is opened twice. Only the bookkeeping is process-wide; each open
// device carries its own lock, and the registry's lock is never held during an exchange.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "decoders/chunk_buffers.h"
#include "device/usb3k.h"

// The USB-3000 of one decoder, by serial number. `use` is held for every exchange with it, so
// that its decoder's threads take turns and closing waits for the exchange in progress; it guards
// the rest, too. While the device is away (unplugged), `device` is null and the serial number is
// not claimed, so that nobody finds it in use; the decoder claims it again when it reopens it.
struct DecoderDevice {
    std::mutex use;
    std::string serialNumber;
    std::unique_ptr<USB3K> device;
    // Whether this decoder holds the serial number's claim in the registry.
    bool claimed = false;
    bool closed = false;
    ChunkBuffers buffers;
};

class DeviceRegistry {
  public:
    // Probe: a listing that opens the device only to identify it, and closes it again.
    enum class Holder { Bridge, Decoder, Probe };

    // How long a claim waits for a probe of the same device to end: longer than identifying a
    // device that answers nothing takes.
    static constexpr std::chrono::seconds PROBE_WAIT{10};

    // Marks the serial number as held; false when it is held already, with `holder` set to who
    // holds it. A probe holds a device only while it identifies it, so a claim that meets one
    // waits for it to end (at most PROBE_WAIT) instead of failing; a probe in turn lets the
    // bridge and decoders that wait for the device go first.
    bool claim(const std::string& serialNumber, Holder claimant, Holder& holder);
    void release(const std::string& serialNumber);
    // Releases every serial number the bridge holds.
    void releaseBridge();

    // Keeps an opened decoder device and returns its handle: never 0, never reused.
    int64_t add(std::shared_ptr<DecoderDevice> device);
    // The device behind a handle, or none for a handle that is not open.
    std::shared_ptr<DecoderDevice> find(int64_t handle);
    // Forgets the handle and returns its device, or none.
    std::shared_ptr<DecoderDevice> remove(int64_t handle);

  private:
    bool mayClaim(const std::string& serialNumber, Holder claimant) const;

    std::mutex lock_;
    // Signalled whenever a serial number is released or a waiting claim ends.
    std::condition_variable changed_;
    std::map<std::string, Holder> held_;
    // The serial numbers that a bridge or decoder claim is waiting for, once per waiting claim.
    std::multiset<std::string> awaited_;
    std::map<int64_t, std::shared_ptr<DecoderDevice>> decoders_;
    int64_t lastHandle_ = 0;
};

// The process's one registry, made on first use and never destroyed (see bridgeState()).
DeviceRegistry& deviceRegistry();
