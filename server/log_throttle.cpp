#include "server/log_throttle.h"

bool LogThrottle::allow(Clock::time_point now, uint64_t& heldBack) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (last_ && now - *last_ < interval_) {
        ++held_;
        return false;
    }
    last_ = now;
    heldBack = held_;
    held_ = 0;
    return true;
}
