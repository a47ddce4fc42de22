// The host's USB-3000s as usb3k-server lends them: a request or a stream gets the device it names,
// or any free ready one, and holds it until it gives the lease back. When none is free it waits in
// one bounded queue, served fairly across tokens. The network side knows only this interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "decoders/stream_outcome.h"
#include "server/d2xx_state.h"

enum class DeviceState { Free, Busy, Away };

// The state's name in GET /v1/devices and /metrics.
inline const char* deviceStateName(DeviceState state) {
    switch (state) {
        case DeviceState::Free:
            return "free";
        case DeviceState::Busy:
            return "busy";
        case DeviceState::Away:
            break;
    }
    return "away";
}

// One row of GET /v1/devices, and the device's counters for /metrics.
struct PooledDevice {
    std::string serialNumber;
    std::string description;
    bool usable = false;
    std::string productId;
    std::string version;
    // Why the device is not usable (its lines in one text), empty when it is.
    std::string reason;
    DeviceState state = DeviceState::Away;
    uint64_t framesDecoded = 0;
    uint64_t framesConcealed = 0;
};

// A device lent to one request or stream; destroying it gives the device back, and may open it for
// the next waiter on the destroying thread (see acquire()).
class DeviceLease {
  public:
    virtual ~DeviceLease() = default;
    virtual const std::string& serialNumber() const = 0;
    // Decodes `frames` frames of `vcw` (7 bytes each) as the stream's next frames into `pcm` (320
    // bytes each, samples little-endian): each frame its own speech, or silence when concealed.
    // Blocks for the device's exchanges and while an unplugged device is awaited: never call it
    // on a thread that serves the network. Delivers fewer frames only when the stream ends.
    virtual StreamOutcome decode(const uint8_t* vcw, std::size_t frames, uint8_t* pcm,
                                 StreamListener& listener) = 0;
    // Frames concealed so far in this lease.
    virtual uint64_t framesConcealed() const = 0;
    // From any thread: a decode in progress, or waiting for its device, ends soon with Cancelled.
    virtual void cancel() = 0;
};

enum class LeaseRefusal {
    None,
    NoSuchDevice,  // no USB-3000 with that serial number is attached or known
    QueueFull,     // too many requests are waiting already
    NoDevice,      // no usable USB-3000 is attached at all
};

struct LeaseResult {
    std::unique_ptr<DeviceLease> lease;
    LeaseRefusal refusal = LeaseRefusal::None;
};

class DevicePool {
  public:
    using Ticket = uint64_t;
    using Granted = std::function<void(LeaseResult)>;

    virtual ~DevicePool() = default;
    // Every attached USB-3000 and the devices that leases hold, in D2XX's list order. Identifies
    // each free device (opens it for a moment), as a listing of the Java API does.
    virtual std::vector<PooledDevice> devices() = 0;
    // Asks for the device `serialNumber` names, or any free ready one when it is empty, for the
    // token `tokenName`. `granted` is called once: at once (inline) with a lease or a refusal, or
    // later, on the thread that freed a device, when the ticket reaches the front of its token's
    // turn; never after withdraw() returned true. Opening and preparing a device takes a moment
    // (longer for one that does not answer), on the calling thread, or the freeing one for a
    // waiter: call it, and destroy leases, off the threads that serve the network.
    virtual Ticket acquire(const std::string& serialNumber, const std::string& tokenName,
                           Granted granted) = 0;
    // Gives up a waiting ticket (its queue time-out, the client gone): true when it was still
    // waiting, and `granted` will not be called.
    virtual bool withdraw(Ticket ticket) = 0;
    // Requests and streams waiting for a device.
    virtual std::size_t queueLength() const = 0;
    // Whether at least one USB-3000 is attached and usable.
    virtual bool anyReady() = 0;
    // What D2XX said at the last listing (devices(), anyReady()).
    virtual D2xxState d2xxState() const = 0;
};
