#include "sim/answer_queue.h"

#include <algorithm>
#include <utility>

#include "sim/serial_line.h"

namespace sim {
namespace {

void arrive(const State& state, Device& device, const std::vector<uint8_t>& bytes,
            Clock::time_point at) {
    if (state.timing) {
        sendOverLine(device, bytes, at);
    } else {
        device.readQueue.append(bytes.data(), bytes.size());
    }
}

void releaseInOrder(const State& state, Device& device, Clock::time_point at) {
    while (!device.inFlight.empty() && device.inFlight.front().eventsLeft <= 0) {
        arrive(state, device, device.inFlight.front().bytes, at);
        device.inFlight.pop_front();
    }
}

}  // namespace

void sendAnswer(const State& state, Device& device, std::vector<uint8_t> bytes, HostEvent waitsFor,
                int events, Clock::time_point at) {
    if (device.inFlight.empty() && (waitsFor == HostEvent::None || events <= 0)) {
        // The usual case, every frame of a decode: nothing to wait for or behind.
        arrive(state, device, bytes, at);
        return;
    }
    const int eventsLeft = waitsFor == HostEvent::None ? 0 : events;
    device.inFlight.push_back({std::move(bytes), waitsFor, eventsLeft});
    releaseInOrder(state, device, at);
}

void hostEvent(const State& state, Device& device, HostEvent event, Clock::time_point at) {
    for (AnswerInFlight& answer : device.inFlight) {
        if (answer.waitsFor == event && answer.eventsLeft > 0) {
            --answer.eventsLeft;
        }
    }
    releaseInOrder(state, device, at);
}

}  // namespace sim
