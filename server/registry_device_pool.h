// The device pool over the decoders layer: every lease is a decoder handle of the process-wide
// registry with a concealing stream on it, so that the server and any other user of the registry
// never open one device twice. Waiting requests are served round robin between tokens, first come
// first served within one, whenever a lease is given back or a request arrives.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "server/device_pool.h"
#include "server/server_options.h"

class RegistryDevicePool final : public DevicePool {
  public:
    // Told, outside the pool's lock, when a listing finds D2XX failing otherwise than the listing
    // before it did, or working again; a pool starts out as if D2XX worked.
    using D2xxChanged = std::function<void(const D2xxState&)>;

    // Takes the queue's bound and the leases' reconnect time-out from the options. The pool must
    // outlive its leases.
    explicit RegistryDevicePool(const ServerOptions& options, D2xxChanged d2xxChanged = {});

    std::vector<PooledDevice> devices() override;
    Ticket acquire(const std::string& serialNumber, const std::string& tokenName,
                   Granted granted) override;
    bool withdraw(Ticket ticket) override;
    std::size_t queueLength() const override;
    bool anyReady() override;
    D2xxState d2xxState() const override;

  private:
    class Lease;
    class Relay;

    struct Waiter {
        Ticket ticket = 0;
        std::string serialNumber;
        Granted granted;
        // A device is being opened for it; withdrawn meanwhile: whatever the opening gives is
        // dropped, and `granted` is not called.
        bool opening = false;
        bool withdrawn = false;
    };
    // What a lease has done on a device, over the pool's life, and what the last listing that
    // identified it said.
    struct Known {
        uint64_t framesDecoded = 0;
        uint64_t framesConcealed = 0;
        std::string description;
        bool identified = false;
        std::string productId;
        std::string version;
        // In the last listing; what the last look at it (an identification, or finding it held)
        // found, and when.
        bool listed = false;
        bool looked = false;
        bool usable = false;
        bool held = false;
        std::string reason;
        std::chrono::steady_clock::time_point lookedAt;
    };

    // Whether a listing opens the device to identify it: one that arrived since the last listing,
    // and now and then one that could not be used; never one a lease holds.
    bool needsLook(const std::string& serialNumber, std::chrono::steady_clock::time_point now);
    enum class Attempt { Granted, Refused, Wait };

    // Opens the named device or any free ready one; Wait when it is held or not ready.
    Attempt open(const std::string& serialNumber, LeaseResult& result);
    // Grants waiters while a device can be opened for one, in their turns.
    void serve();
    // Takes the waiter of `token` with `ticket` off the queue; the lock is held.
    void dequeue(const std::string& token, Ticket ticket);

    // What a lease reports.
    void released(const std::string& serialNumber);
    void setAway(const std::string& serialNumber, bool away);
    void count(const std::string& serialNumber, uint64_t decoded, uint64_t concealed);

    const std::chrono::milliseconds reconnectTimeout_;
    const std::size_t maxQueued_;
    const D2xxChanged d2xxChanged_;

    mutable std::mutex lock_;
    Ticket lastTicket_ = 0;
    // The waiters by token, each token's in arrival order, and the tokens with waiters in their
    // turns' order; `nextTurn_` is the index of the token whose turn is next.
    std::map<std::string, std::deque<Waiter>> waiting_;
    std::vector<std::string> turns_;
    std::size_t nextTurn_ = 0;
    std::size_t queued_ = 0;
    // The serial numbers of the leases, each with whether its device is unplugged.
    std::map<std::string, bool> leased_;
    std::map<std::string, Known> known_;
    D2xxState d2xx_;
};

// What D2XX says as a listing finds it, without opening any device: for --check-config.
D2xxState readD2xxState();
