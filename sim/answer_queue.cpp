#include "sim/answer_queue.h"

#include <algorithm>
#include <utility>

#include "sim/pacing.h"

namespace sim {
namespace {

// In paced mode an answer leaves the device once it may and the one before it has crossed the
// line; it is complete at the host when its bytes have crossed and the latency timer has run out.
void arrive(Device& device, const std::vector<uint8_t>& bytes, Clock::time_point at) {
    device.readQueue.append(bytes.data(), bytes.size());
    const Clock::time_point start = std::max(device.readyAt, at);
    device.readyAt = start + lineTime(bytes.size(), device.baudRate) +
                     std::chrono::milliseconds(device.latencyMs);
}

void releaseInOrder(Device& device, Clock::time_point at) {
    while (!device.inFlight.empty() && device.inFlight.front().eventsLeft <= 0) {
        arrive(device, device.inFlight.front().bytes, at);
        device.inFlight.pop_front();
    }
}

}  // namespace

void sendAnswer(Device& device, std::vector<uint8_t> bytes, HostEvent waitsFor, int events,
                Clock::time_point at) {
    if (device.inFlight.empty() && (waitsFor == HostEvent::None || events <= 0)) {
        // The usual case, every frame of a decode: nothing to wait for or behind.
        arrive(device, bytes, at);
        return;
    }
    const int eventsLeft = waitsFor == HostEvent::None ? 0 : events;
    device.inFlight.push_back({std::move(bytes), waitsFor, eventsLeft});
    releaseInOrder(device, at);
}

void hostEvent(Device& device, HostEvent event, Clock::time_point at) {
    for (AnswerInFlight& answer : device.inFlight) {
        if (answer.waitsFor == event && answer.eventsLeft > 0) {
            --answer.eventsLeft;
        }
    }
    releaseInOrder(device, at);
}

}  // namespace sim
