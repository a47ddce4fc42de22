// The control API of usb3k_sim.h, over the emulator's state.
#include <algorithm>
#include <cstring>
#include <string>

#include "d2xx/d2xx.h"
#include "sim/call_faults.h"
#include "sim/d2xx_functions.h"
#include "sim/serial_line.h"
#include "sim/sim_state.h"
#include "sim/tone.h"
#include "sim/usb3k_sim.h"

namespace {

using Lock = std::lock_guard<std::mutex>;

bool validRequest(int request) {
    return request >= 0 && request < sim::REQUEST_KINDS;
}

}  // namespace

extern "C" {

void sim_reset(void) {
    Lock lock(sim::stateLock());
    sim::state().powerOn();
}

void sim_clear_devices(void) {
    Lock lock(sim::stateLock());
    sim::state().clearDevices();
}

int sim_add_device(unsigned int id, const char* serial, const char* description) {
    const std::string serialText = serial != nullptr ? serial : "";
    // The device list's record holds no more of a serial number, and D2XX opens a device by its
    // serial number: a longer one, or a second device with the same one, could not be opened.
    if (serialText.size() > sizeof FT_DEVICE_LIST_INFO_NODE::SerialNumber) {
        return -1;
    }
    Lock lock(sim::stateLock());
    if (sim::state().findBySerial(serialText) != nullptr) {
        return -1;
    }
    return static_cast<int>(
        sim::state().addDevice(id, serialText, description != nullptr ? description : ""));
}

void sim_fail_call(const char* serial, const char* function, unsigned int status, int occurrence) {
    // A name that is no D2XX function the emulator has would never match a call.
    sim::D2xxFunction named{};
    if (function == nullptr || !sim::d2xxFunctionNamed(function, named)) {
        return;
    }
    Lock lock(sim::stateLock());
    sim::state().callFaults.push_back({sim::Target::of(serial), named, status, occurrence});
}

void sim_short_write(const char* serial, int occurrence, unsigned int accepted) {
    Lock lock(sim::stateLock());
    sim::state().shortWrites.push_back({sim::Target::of(serial), occurrence, accepted});
}

void sim_fault_answer(const char* serial, int request, int occurrence, int fault, int value) {
    if (!validRequest(request)) {
        return;
    }
    Lock lock(sim::stateLock());
    sim::state().answerRules.push_back(
        {sim::Target::of(serial), request, occurrence, fault, value, {}});
}

void sim_answer_raw(const char* serial, int request, int occurrence, const unsigned char* bytes,
                    size_t count) {
    if (!validRequest(request) || (bytes == nullptr && count > 0)) {
        return;
    }
    Lock lock(sim::stateLock());
    sim::state().answerRules.push_back({sim::Target::of(serial), request, occurrence,
                                        sim::RAW_ANSWER, 0,
                                        std::vector<uint8_t>(bytes, bytes + count)});
}

int sim_request_count(const char* serial, int request) {
    if (!validRequest(request)) {
        return 0;
    }
    Lock lock(sim::stateLock());
    const sim::Target target = sim::Target::of(serial);
    int total = 0;
    for (const sim::Device& device : sim::state().devices) {
        if (target.matches(device.serial)) {
            total += device.requests[request];
        }
    }
    return total;
}

int sim_open_handles(void) {
    Lock lock(sim::stateLock());
    return static_cast<int>(sim::state().handles.size());
}

int sim_call_count(const char* serial, const char* function) {
    sim::D2xxFunction named{};
    if (function == nullptr || !sim::d2xxFunctionNamed(function, named)) {
        return 0;
    }
    Lock lock(sim::stateLock());
    return sim::callCount(sim::state(), sim::Target::of(serial), named);
}

void sim_clear_faults(void) {
    Lock lock(sim::stateLock());
    sim::State& s = sim::state();
    s.callFaults.clear();
    s.shortWrites.clear();
    s.answerRules.clear();
}

size_t sim_transcript(char* buffer, size_t capacity) {
    Lock lock(sim::stateLock());
    const std::string& transcript = sim::state().transcript;
    if (buffer != nullptr && capacity > 0) {
        const std::size_t copied = std::min(capacity - 1, transcript.size());
        std::memcpy(buffer, transcript.data(), copied);
        buffer[copied] = '\0';
    }
    return transcript.size();
}

void sim_clear_transcript(void) {
    Lock lock(sim::stateLock());
    sim::state().transcript.clear();
}

void sim_record_transcript(int on) {
    Lock lock(sim::stateLock());
    sim::state().recording = on != 0;
}

void sim_speech_for_codeword(unsigned long long codeword, unsigned char speech[320]) {
    sim::speechForCodeword(codeword & ((1ULL << 49) - 1), speech);
}

void sim_set_timing(int on) {
    Lock lock(sim::stateLock());
    sim::state().timing = on != 0;
}

void sim_set_device_work(unsigned int minimum_us, unsigned int maximum_us) {
    Lock lock(sim::stateLock());
    sim::State& s = sim::state();
    s.workMin = std::chrono::microseconds(std::min(minimum_us, maximum_us));
    s.workMax = std::chrono::microseconds(std::max(minimum_us, maximum_us));
}

void sim_set_paced(int on) {
    Lock lock(sim::stateLock());
    sim::State& s = sim::state();
    s.paced = on != 0;
    s.timing = s.paced;
}

unsigned long long sim_elapsed_us(const char* serial) {
    Lock lock(sim::stateLock());
    const sim::Device* device = serial != nullptr ? sim::state().findBySerial(serial) : nullptr;
    if (device == nullptr) {
        return 0;
    }
    return static_cast<unsigned long long>(
        std::chrono::duration_cast<std::chrono::microseconds>(device->now.time_since_epoch())
            .count());
}

void sim_advance_us(const char* serial, unsigned long long microseconds) {
    Lock lock(sim::stateLock());
    sim::State& s = sim::state();
    if (serial == nullptr) {
        return;
    }
    // An unplugged device's link goes on in time too: a re-plug after a time waits for it.
    sim::Device* device = s.findBySerial(serial);
    for (sim::UnpluggedDevice& away : s.unplugged) {
        if (device == nullptr && away.device.serial == serial) {
            device = &away.device;
        }
    }
    if (device != nullptr) {
        device->now += std::chrono::microseconds(microseconds);
        s.applyPlugEvents(false);
    }
}

double sim_model_frame_seconds(unsigned int latency_ms) {
    Lock lock(sim::stateLock());
    const sim::State& s = sim::state();
    return sim::modelFrameSeconds(s, latency_ms);
}

}  // extern "C"
