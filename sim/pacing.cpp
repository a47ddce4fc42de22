#include "sim/pacing.h"

#include <thread>

namespace sim {

Clock::duration lineTime(std::size_t bytes, unsigned baudRate) {
    if (baudRate == 0) {
        return Clock::duration::zero();
    }
    const auto nanoseconds = static_cast<long long>(bytes) * 10 * 1000000000LL / baudRate;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(nanoseconds));
}

void waitUntil(Clock::time_point when) {
    // A loop, because a sleep may end early (the Windows build's was seen to wake up to half a
    // millisecond before the time asked), and a paced exchange must never beat the line's time.
    while (when > Clock::now()) {
        std::this_thread::sleep_until(when);
    }
}

}  // namespace sim
