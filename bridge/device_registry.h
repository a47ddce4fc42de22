// The USB-3000s this process has open, and who holds each: the bridge's device list or one
// decoder of the handle-based interface. Both go through it, so that no device is opened twice.
// Only the bookkeeping is process-wide; each open device carries its own lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "bridge/chunk_buffers.h"
#include "device/usb3k.h"

// One USB-3000 that a decoder holds. `use` is held for every exchange with it, so that its
// decoder's threads take turns and closing waits for the exchange in progress; it guards
// `buffers`, which the decoder's calls reuse, too.
struct DecoderDevice {
    std::mutex use;
    std::unique_ptr<USB3K> device;
    ChunkBuffers buffers;
};

class DeviceRegistry {
  public:
    enum class Holder { Bridge, Decoder };

    // Marks the serial number as held; false when it is held already, with `holder` set to who
    // holds it.
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
    std::mutex lock_;
    std::map<std::string, Holder> held_;
    std::map<int64_t, std::shared_ptr<DecoderDevice>> decoders_;
    int64_t lastHandle_ = 0;
};

// The process's one registry, made on first use and never destroyed (see bridgeState()).
DeviceRegistry& deviceRegistry();
