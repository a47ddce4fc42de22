#include "server/registry_device_pool.h"

#include <algorithm>
#include <memory>
#include <set>
#include <utility>

#include "decoders/concealing_stream.h"
#include "decoders/decoder_handles.h"
#include "decoders/usb3000_list.h"
#include "device/diagnostics.h"

namespace {

// How often a listing looks again at a device that could not be used or was held: what kept it
// may have ended without its being unplugged.
constexpr std::chrono::seconds LOOK_AGAIN{5};

// What a listing's outcome says of D2XX: a failure to load it or to list, with the listing's last
// line and its advice, or how many USB-3000s it listed.
D2xxState stateOf(const HandleOutcome& outcome, const DiagnosticCapture& lines,
                  std::size_t usb3000s) {
    D2xxState state;
    if (outcome.failure == HandleFailure::NoD2xxLibrary ||
        outcome.failure == HandleFailure::DeviceListFailed) {
        state.failure = failureMessage(lines.lines());
        state.cause = outcome.advice.cause;
        state.fix = outcome.advice.fix;
    } else {
        state.usb3000s = usb3000s;
    }
    return state;
}

}  // namespace

D2xxState readD2xxState() {
    std::vector<FT_DEVICE_LIST_INFO_NODE> usb3000s;
    DiagnosticCapture quiet(false);
    const HandleOutcome outcome = readUsb3000s("usb3k-server --check-config", usb3000s);
    return stateOf(outcome, quiet, usb3000s.size());
}

// Passes a stream's events on, and marks the lease's device away while the stream waits for it.
class RegistryDevicePool::Relay final : public StreamListener {
  public:
    Relay(RegistryDevicePool& pool, StreamListener& listener) : pool_(pool), listener_(listener) {}

    void frameConcealed(uint64_t frameIndex, const std::vector<std::string>& lines) override {
        listener_.frameConcealed(frameIndex, lines);
    }
    void deviceAway(const std::string& serialNumber, uint64_t frameIndex) override {
        pool_.setAway(serialNumber, true);
        listener_.deviceAway(serialNumber, frameIndex);
    }
    void deviceBack(const std::string& serialNumber, uint64_t frameIndex) override {
        pool_.setAway(serialNumber, false);
        listener_.deviceBack(serialNumber, frameIndex);
    }

  private:
    RegistryDevicePool& pool_;
    StreamListener& listener_;
};

class RegistryDevicePool::Lease final : public DeviceLease {
  public:
    Lease(RegistryDevicePool& pool, int64_t handle, std::string serialNumber)
        : pool_(pool),
          handle_(handle),
          serialNumber_(std::move(serialNumber)),
          stream_(handle, serialNumber_, pool.reconnectTimeout_) {}

    ~Lease() override {
        closeDecoder(handle_);
        pool_.released(serialNumber_);
    }

    const std::string& serialNumber() const override { return serialNumber_; }

    StreamOutcome decode(const uint8_t* vcw, std::size_t frames, uint8_t* pcm,
                         StreamListener& listener) override {
        Relay relay(pool_, listener);
        const uint64_t concealedBefore = stream_.framesConcealed();
        StreamOutcome outcome = stream_.decode(vcw, frames, pcm, relay);
        const uint64_t concealed = stream_.framesConcealed() - concealedBefore;
        pool_.count(serialNumber_, outcome.frames - concealed, concealed);
        if (outcome.end == StreamEnd::DeviceGone) {
            pool_.setAway(serialNumber_, true);
        }
        return outcome;
    }

    uint64_t framesConcealed() const override { return stream_.framesConcealed(); }

    void cancel() override { stream_.cancel(); }

  private:
    RegistryDevicePool& pool_;
    const int64_t handle_;
    const std::string serialNumber_;
    ConcealingStream stream_;
};

RegistryDevicePool::RegistryDevicePool(const ServerOptions& options, D2xxChanged d2xxChanged)
    : reconnectTimeout_(options.reconnectTimeout),
      maxQueued_(options.maxQueued),
      d2xxChanged_(std::move(d2xxChanged)) {}

bool RegistryDevicePool::needsLook(const std::string& serialNumber,
                                   std::chrono::steady_clock::time_point now) {
    std::lock_guard<std::mutex> hold(lock_);
    if (leased_.count(serialNumber) != 0) {
        return false;
    }
    const auto known = known_.find(serialNumber);
    if (known == known_.end() || !known->second.listed || !known->second.looked) {
        return true;
    }
    return (!known->second.usable || known->second.held) &&
           now - known->second.lookedAt >= LOOK_AGAIN;
}

std::vector<PooledDevice> RegistryDevicePool::devices() {
    std::vector<AttachedUsb3000> attached;
    D2xxState d2xx;
    const auto now = std::chrono::steady_clock::now();
    {
        // A failed listing shows as no device and as the pool's D2XX state; its lines stay off
        // standard error, which probes that list every few seconds would fill. Only a device that
        // arrived is opened, so that probes and scrapers cost the devices nothing.
        DiagnosticCapture quiet(false);
        const HandleOutcome listed = listUsb3000s(
            attached, [this, now](const std::string& serial) { return needsLook(serial, now); });
        d2xx = stateOf(listed, quiet, attached.size());
    }
    bool changed = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        changed = d2xx.failure != d2xx_.failure;
        d2xx_ = d2xx;
    }
    if (changed && d2xxChanged_) {
        d2xxChanged_(d2xx);
    }
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<PooledDevice> rows;
    std::set<std::string> listed;
    for (const AttachedUsb3000& device : attached) {
        listed.insert(device.serialNumber);
        Known& known = known_[device.serialNumber];
        known.description = device.description;
        if (device.looked) {
            known.looked = true;
            known.lookedAt = now;
            known.usable = device.usable;
            known.held = device.held;
            known.reason = device.reason;
        }
        if (device.usable) {
            known.identified = true;
            known.productId = device.productId;
            known.version = device.version;
        }
        PooledDevice row;
        row.serialNumber = device.serialNumber;
        row.description = device.description;
        const auto lease = leased_.find(device.serialNumber);
        if (lease != leased_.end()) {
            row.state = lease->second ? DeviceState::Away : DeviceState::Busy;
            row.usable = known.identified;
            row.productId = known.productId;
            row.version = known.version;
        } else {
            row.state = known.held ? DeviceState::Busy : DeviceState::Free;
            row.usable = known.usable;
            row.productId = known.usable ? known.productId : "";
            row.version = known.usable ? known.version : "";
            row.reason = known.reason;
        }
        row.framesDecoded = known.framesDecoded;
        row.framesConcealed = known.framesConcealed;
        rows.push_back(std::move(row));
    }
    for (auto& known : known_) {
        known.second.listed = listed.count(known.first) != 0;
    }
    // Leases whose device is unplugged, after the attached devices.
    for (const auto& lease : leased_) {
        if (listed.count(lease.first) == 0) {
            const Known& known = known_[lease.first];
            PooledDevice row;
            row.serialNumber = lease.first;
            row.description = known.description;
            row.usable = known.identified;
            row.productId = known.productId;
            row.version = known.version;
            row.state = DeviceState::Away;
            row.framesDecoded = known.framesDecoded;
            row.framesConcealed = known.framesConcealed;
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

bool RegistryDevicePool::anyReady() {
    const std::vector<PooledDevice> rows = devices();
    return std::any_of(rows.begin(), rows.end(), [](const PooledDevice& row) {
        return row.usable && row.state != DeviceState::Away;
    });
}

D2xxState RegistryDevicePool::d2xxState() const {
    std::lock_guard<std::mutex> hold(lock_);
    return d2xx_;
}

RegistryDevicePool::Attempt RegistryDevicePool::open(const std::string& serialNumber,
                                                     LeaseResult& result) {
    int64_t handle = 0;
    std::string opened;
    HandleOutcome outcome;
    {
        // Waiting requests try often: a device that is busy is no news worth a line.
        DiagnosticCapture quiet(false);
        outcome = openDecoder(serialNumber.empty() ? nullptr : &serialNumber, handle, opened);
    }
    switch (outcome.failure) {
        case HandleFailure::None: {
            {
                std::lock_guard<std::mutex> hold(lock_);
                leased_[opened] = false;
            }
            result.lease = std::make_unique<Lease>(*this, handle, opened);
            return Attempt::Granted;
        }
        case HandleFailure::NoSuchSerial:
            result.refusal = LeaseRefusal::NoSuchDevice;
            return Attempt::Refused;
        case HandleFailure::NoD2xxLibrary:
        case HandleFailure::DeviceListFailed:
        case HandleFailure::NoUsb3000:
            result.refusal = LeaseRefusal::NoDevice;
            return Attempt::Refused;
        default:
            return Attempt::Wait;
    }
}

DevicePool::Ticket RegistryDevicePool::acquire(const std::string& serialNumber,
                                               const std::string& tokenName, Granted granted) {
    Ticket ticket = 0;
    bool first = false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        ticket = ++lastTicket_;
        // Nobody waits, and the device asked for is not one of ours: it may be free.
        first = queued_ == 0 && (serialNumber.empty() || leased_.count(serialNumber) == 0);
    }
    if (first) {
        LeaseResult result;
        if (open(serialNumber, result) != Attempt::Wait) {
            granted(std::move(result));
            return ticket;
        }
    }
    {
        std::unique_lock<std::mutex> hold(lock_);
        if (queued_ >= maxQueued_) {
            hold.unlock();
            LeaseResult full;
            full.refusal = LeaseRefusal::QueueFull;
            granted(std::move(full));
            return ticket;
        }
        std::deque<Waiter>& waiters = waiting_[tokenName];
        if (waiters.empty()) {
            // A token that comes to wait gets its turn after those that wait already.
            turns_.insert(turns_.begin() + static_cast<std::ptrdiff_t>(nextTurn_), tokenName);
            nextTurn_ = (nextTurn_ + 1) % turns_.size();
        }
        waiters.push_back({ticket, serialNumber, std::move(granted), false, false});
        ++queued_;
    }
    // A device may have been given back since it was tried.
    serve();
    return ticket;
}

void RegistryDevicePool::dequeue(const std::string& token, Ticket ticket) {
    std::deque<Waiter>& waiters = waiting_[token];
    waiters.erase(std::find_if(waiters.begin(), waiters.end(),
                               [ticket](const Waiter& waiter) { return waiter.ticket == ticket; }));
    --queued_;
    if (!waiters.empty()) {
        return;
    }
    waiting_.erase(token);
    const auto at =
        static_cast<std::size_t>(std::find(turns_.begin(), turns_.end(), token) - turns_.begin());
    turns_.erase(turns_.begin() + static_cast<std::ptrdiff_t>(at));
    if (at < nextTurn_) {
        --nextTurn_;
    }
    if (nextTurn_ >= turns_.size()) {
        nextTurn_ = 0;
    }
}

void RegistryDevicePool::serve() {
    // Who was tried in this pass without success, so that each is tried once: a named device, and
    // whether any device at all could be had.
    std::set<Ticket> tried;
    bool noneFree = false;
    for (;;) {
        std::string token;
        Ticket ticket = 0;
        std::string serialNumber;
        {
            std::lock_guard<std::mutex> hold(lock_);
            for (std::size_t i = 0; i < turns_.size() && ticket == 0; ++i) {
                const std::string& candidate = turns_[(nextTurn_ + i) % turns_.size()];
                for (Waiter& waiter : waiting_[candidate]) {
                    const bool any = waiter.serialNumber.empty();
                    if (waiter.opening || waiter.withdrawn || tried.count(waiter.ticket) != 0 ||
                        (any && noneFree) || (!any && leased_.count(waiter.serialNumber) != 0)) {
                        continue;
                    }
                    waiter.opening = true;
                    token = candidate;
                    ticket = waiter.ticket;
                    serialNumber = waiter.serialNumber;
                    break;
                }
            }
        }
        if (ticket == 0) {
            return;
        }
        LeaseResult result;
        const Attempt attempt = open(serialNumber, result);
        Granted granted;
        {
            std::lock_guard<std::mutex> hold(lock_);
            std::deque<Waiter>& waiters = waiting_[token];
            const auto waiter =
                std::find_if(waiters.begin(), waiters.end(),
                             [ticket](const Waiter& waiter) { return waiter.ticket == ticket; });
            if (waiter->withdrawn) {
                dequeue(token, ticket);
            } else if (attempt == Attempt::Wait) {
                waiter->opening = false;
                tried.insert(ticket);
                noneFree = noneFree || serialNumber.empty();
                continue;
            } else {
                granted = std::move(waiter->granted);
                // The next turn is the next token's.
                const auto at = static_cast<std::size_t>(
                    std::find(turns_.begin(), turns_.end(), token) - turns_.begin());
                nextTurn_ = at + 1 == turns_.size() ? 0 : at + 1;
                dequeue(token, ticket);
            }
        }
        if (granted) {
            granted(std::move(result));
        }
        // A lease nobody wants any more is given back here, outside the lock.
    }
}

bool RegistryDevicePool::withdraw(Ticket ticket) {
    std::lock_guard<std::mutex> hold(lock_);
    for (auto& token : waiting_) {
        for (Waiter& waiter : token.second) {
            if (waiter.ticket != ticket || waiter.withdrawn) {
                continue;
            }
            if (waiter.opening) {
                waiter.withdrawn = true;
                return true;
            }
            const std::string name = token.first;
            dequeue(name, ticket);
            return true;
        }
    }
    return false;
}

std::size_t RegistryDevicePool::queueLength() const {
    std::lock_guard<std::mutex> hold(lock_);
    return queued_;
}

void RegistryDevicePool::released(const std::string& serialNumber) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        leased_.erase(serialNumber);
    }
    serve();
}

void RegistryDevicePool::setAway(const std::string& serialNumber, bool away) {
    std::lock_guard<std::mutex> hold(lock_);
    leased_[serialNumber] = away;
}

void RegistryDevicePool::count(const std::string& serialNumber, uint64_t decoded,
                               uint64_t concealed) {
    std::lock_guard<std::mutex> hold(lock_);
    Known& known = known_[serialNumber];
    known.framesDecoded += decoded;
    known.framesConcealed += concealed;
}
