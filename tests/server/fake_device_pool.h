// A DevicePool for the network side's tests: devices that decode at once and deterministically
// (speechOf), and that conceal or are unplugged at the frames a test names.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "server/device_pool.h"

// The fake's speech for one frame: 320 bytes that depend on all 7 of its bytes and on its place.
inline std::vector<uint8_t> speechOf(const uint8_t* frame) {
    std::vector<uint8_t> speech(320);
    for (std::size_t i = 0; i < speech.size(); ++i) speech[i] = frame[i % 7] + i;
    return speech;
}

class FakeDevicePool : public DevicePool {
  public:
    explicit FakeDevicePool(int devices) : held_(devices, false) {}

    // Lease frame indices that are concealed, and the one at which the device is unplugged.
    std::set<uint64_t> concealAt;
    uint64_t goneAt = UINT64_MAX;
    std::chrono::milliseconds perFrame{0};
    // How long a listing takes, as one that identifies a device that has just arrived does.
    std::chrono::milliseconds perListing{0};
    std::atomic<uint64_t> framesDecoded{0};

    std::vector<PooledDevice> devices() override {
        std::this_thread::sleep_for(perListing);
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<PooledDevice> list;
        for (std::size_t i = 0; i < held_.size(); ++i) {
            PooledDevice device;
            device.serialNumber = serialOf(i);
            device.description = "USB-3000";
            device.usable = true;
            device.productId = "P1";
            device.version = "V1";
            device.state = held_[i] ? DeviceState::Busy : DeviceState::Free;
            list.push_back(device);
        }
        return list;
    }

    Ticket acquire(const std::string& serialNumber, const std::string&, Granted granted) override {
        std::unique_lock<std::mutex> lock(mutex_);
        Ticket ticket = ++lastTicket_;
        int index = -1;
        bool known = serialNumber.empty();
        for (std::size_t i = 0; i < held_.size(); ++i) {
            if (!serialNumber.empty() && serialOf(i) != serialNumber)
                continue;
            known = true;
            if (!held_[i]) {
                index = static_cast<int>(i);
                break;
            }
        }
        if (!known || index >= 0) {
            LeaseResult result;
            if (index < 0) {
                result.refusal = LeaseRefusal::NoSuchDevice;
            } else {
                held_[index] = true;
                result.lease = std::make_unique<Lease>(*this, index);
            }
            lock.unlock();
            granted(std::move(result));
            return ticket;
        }
        waiting_.push_back(Waiting{ticket, std::move(granted)});
        return ticket;
    }

    bool withdraw(Ticket ticket) override {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = waiting_.begin(); it != waiting_.end(); ++it) {
            if (it->ticket == ticket) {
                waiting_.erase(it);
                return true;
            }
        }
        return false;
    }

    std::size_t queueLength() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return waiting_.size();
    }

    bool anyReady() override { return !held_.empty(); }
    D2xxState d2xxState() const override { return {}; }

    static std::string serialOf(std::size_t index) { return "FAKE" + std::to_string(index); }

  private:
    struct Waiting {
        Ticket ticket;
        Granted granted;
    };

    class Lease : public DeviceLease {
      public:
        Lease(FakeDevicePool& pool, int index)
            : pool_(pool), index_(index), serial_(serialOf(index)) {}
        ~Lease() override { pool_.release(index_); }
        const std::string& serialNumber() const override { return serial_; }
        StreamOutcome decode(const uint8_t* vcw, std::size_t frames, uint8_t* pcm,
                             StreamListener& listener) override {
            StreamOutcome outcome;
            for (; outcome.frames < frames; ++outcome.frames, ++next_) {
                if (cancelled_) {
                    outcome.end = StreamEnd::Cancelled;
                    return outcome;
                }
                if (next_ == pool_.goneAt) {
                    outcome.end = StreamEnd::DeviceGone;
                    outcome.message = "the device was unplugged";
                    return outcome;
                }
                std::this_thread::sleep_for(pool_.perFrame);
                uint8_t* speech = pcm + outcome.frames * 320;
                if (pool_.concealAt.count(next_) != 0) {
                    std::fill(speech, speech + 320, 0);
                    listener.frameConcealed(next_, {"frame " + std::to_string(next_) + " lost"});
                    ++concealed_;
                } else {
                    auto block = speechOf(vcw + outcome.frames * 7);
                    std::copy(block.begin(), block.end(), speech);
                }
                ++pool_.framesDecoded;
            }
            return outcome;
        }
        uint64_t framesConcealed() const override { return concealed_; }
        void cancel() override { cancelled_ = true; }

      private:
        FakeDevicePool& pool_;
        int index_;
        std::string serial_;
        uint64_t next_ = 0;
        std::atomic<uint64_t> concealed_{0};
        std::atomic<bool> cancelled_{false};
    };

    void release(int index) {
        std::unique_lock<std::mutex> lock(mutex_);
        held_[index] = false;
        if (waiting_.empty())
            return;
        Waiting next = std::move(waiting_.front());
        waiting_.pop_front();
        held_[index] = true;
        lock.unlock();
        LeaseResult result;
        result.lease = std::make_unique<Lease>(*this, index);
        next.granted(std::move(result));
    }

    mutable std::mutex mutex_;
    std::vector<bool> held_;
    std::deque<Waiting> waiting_;
    Ticket lastTicket_ = 0;
};
