// At most one log line of a kind per interval, however often it happens (a scan of TLS handshakes
// that fail, say): the others are counted, and the count is told with the next line let through.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>

class LogThrottle {
  public:
    using Clock = std::chrono::steady_clock;

    explicit LogThrottle(Clock::duration interval) : interval_(interval) {}

    // Whether a line may be written at `now`; when it may, `heldBack` is how many were not written
    // since the last one that was. Safe to call from any thread.
    bool allow(Clock::time_point now, uint64_t& heldBack);

  private:
    std::mutex mutex_;
    const Clock::duration interval_;
    std::optional<Clock::time_point> last_;
    uint64_t held_ = 0;
};
