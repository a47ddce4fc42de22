#include "sim/serial_line.h"

#include <algorithm>
#include <utility>

#include "sim/pacing.h"
#include "sim/tone.h"
#include "sim/wire_format.h"

namespace sim {
namespace {

Clock::time_point timerRunsOut(const Device& device) {
    return device.timerStart + std::chrono::milliseconds(device.latencyMs);
}

void handOn(Device& device, Clock::time_point at) {
    device.usbPackets.push_back({at, std::move(device.chipBuffer)});
    device.chipBuffer.clear();
    device.lastPacketAt = at;
    device.timerStart = at;
}

// A partial packet whose timer has run out by `t` has been handed on.
void runTimer(Device& device, Clock::time_point t) {
    if (!device.chipBuffer.empty() && timerRunsOut(device) <= t) {
        handOn(device, timerRunsOut(device));
    }
}

}  // namespace

void sendOverLine(Device& device, const std::vector<uint8_t>& bytes, Clock::time_point start) {
    start = std::max(start, device.lineFreeAt);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const Clock::time_point arrives = start + lineTime(i + 1, device.baudRate);
        runTimer(device, arrives);
        if (device.chipBuffer.empty() &&
            arrives >= device.lastPacketAt + std::chrono::milliseconds(device.latencyMs)) {
            device.timerStart = arrives;
        }
        device.chipBuffer.push_back(bytes[i]);
        if (device.chipBuffer.size() == USB_PACKET_DATA) {
            handOn(device, arrives);
        }
    }
    device.lineFreeAt = start + lineTime(bytes.size(), device.baudRate);
}

void settle(Device& device, Clock::time_point now) {
    runTimer(device, now);
    while (!device.usbPackets.empty() && device.usbPackets.front().at <= now) {
        const std::vector<uint8_t>& bytes = device.usbPackets.front().bytes;
        device.readQueue.append(bytes.data(), bytes.size());
        device.usbPackets.pop_front();
    }
}

Clock::time_point timeWhenQueued(const Device& device, std::size_t count,
                                 Clock::time_point deadline) {
    std::size_t queued = device.readQueue.size();
    for (const UsbPacket& packet : device.usbPackets) {
        if (packet.at > deadline) {
            return deadline;
        }
        queued += packet.bytes.size();
        if (queued >= count) {
            return packet.at;
        }
    }
    if (!device.chipBuffer.empty() && timerRunsOut(device) <= deadline &&
        queued + device.chipBuffer.size() >= count) {
        return timerRunsOut(device);
    }
    return deadline;
}

double modelFrameSeconds(const State& state, unsigned latencyMs) {
    constexpr unsigned BAUD_RATE = 460800;
    // Header, field identifier and data, parity field.
    constexpr std::size_t REQUEST_BYTES = 4 + 1 + CHANNEL_BYTES + 2;
    constexpr std::size_t ANSWER_BYTES = 4 + 2 + SPEECH_BYTES + 2;
    constexpr std::size_t FULL_PACKET_BYTES = ANSWER_BYTES / USB_PACKET_DATA * USB_PACKET_DATA;
    const Clock::duration tail = lineTime(ANSWER_BYTES - FULL_PACKET_BYTES, BAUD_RATE);
    const Clock::duration frame =
        lineTime(REQUEST_BYTES, BAUD_RATE) + (state.workMin + state.workMax) / 2 +
        lineTime(FULL_PACKET_BYTES, BAUD_RATE) +
        std::max<Clock::duration>(tail, std::chrono::milliseconds(latencyMs));
    return std::chrono::duration<double>(frame).count();
}

void clearLine(Device& device) {
    device.chipBuffer.clear();
    device.usbPackets.clear();
}

}  // namespace sim
