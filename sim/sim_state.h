// The emulator's process-wide state: the attached FTDI devices, the open handles, the injected
// faults, the counters and the transcript. One lock guards all of it; every entry point takes it.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "sim/byte_queue.h"
#include "sim/d2xx_functions.h"

namespace sim {

using Clock = std::chrono::steady_clock;

// Request kinds, numbered as SimRequest in usb3k_sim.h.
constexpr int REQUEST_KINDS = 6;

// How long the device works on a request before it starts to answer, by default.
constexpr long DEFAULT_WORK_MIN_US = 1000;
constexpr long DEFAULT_WORK_MAX_US = 3000;

// What the host does that a held-back answer can be waiting for.
enum class HostEvent {
    None,          // nothing: the answer goes out at once
    ReadTimeout,   // a read on the device timed out
    ReceivePurge,  // an FT_Purge with FT_PURGE_RX ran
    Write,         // a write's bytes reached the device
};

// An answer the device has sent that has not reached the host's read queue yet. It may join once
// `eventsLeft` more events of its kind have happened and every answer sent before it has joined.
struct AnswerInFlight {
    std::vector<uint8_t> bytes;
    HostEvent waitsFor = HostEvent::None;
    int eventsLeft = 0;
};

// A USB packet the FTDI chip has handed on: its bytes join the host's read queue at `at`.
struct UsbPacket {
    Clock::time_point at;
    std::vector<uint8_t> bytes;
};

struct Device {
    unsigned id = 0;
    std::string serial;
    std::string description;
    bool open = false;
    std::uintptr_t handle = 0;

    // The USB-3000's own state: whether it accepted rate table 34, and how many requests of each
    // kind it has recognised.
    bool rate34Layout = false;
    int requests[REQUEST_KINDS] = {};
    // Powered on by a re-plug that asks for it: channel requests go unanswered until a reset.
    bool awaitsReset = false;
    // A hung device answers nothing until `hungUntil` (forever when `hungForever`), or, when
    // `resetEndsHang`, until a reset request, which it answers.
    bool hung = false;
    bool hungForever = false;
    bool resetEndsHang = false;
    Clock::time_point hungUntil{};
    // The location ID the device list reports; 0: by its place in the list.
    unsigned locationId = 0;
    // An unplug planned by sim_unplug_after_us: at `unplugAt` on its link, away for `awayFor`
    // (forever when zero).
    bool unplugPlanned = false;
    Clock::time_point unplugAt{};
    std::chrono::microseconds awayFor{0};

    // Bytes that have reached the host side and wait to be read, and answers still on the way,
    // oldest first: the device answers in order, so none of them overtakes another.
    ByteQueue readQueue;
    std::deque<AnswerInFlight> inFlight;

    // Link settings that the timing model follows; the FTDI chip's power-on values until the
    // host sets them. A read time-out of 0 means "no wait" here.
    unsigned baudRate = 9600;
    unsigned latencyMs = 16;
    unsigned readTimeoutMs = 0;

    // The timing model (serial_line.h). The host's time on this link, in virtual time: it moves
    // only while a D2XX call waits, so each device keeps a timeline of its own.
    Clock::time_point now{};
    // When the device will have sent the last byte of its answers so far: the next one starts no
    // earlier.
    Clock::time_point lineFreeAt{};
    // Requests that reach the device before this are lost: the device is silent.
    Clock::time_point silentUntil{};
    // The FTDI chip: bytes from the line not yet handed on, when its latency timer last started,
    // and the USB packets handed on that have not reached the host's read queue yet.
    std::vector<uint8_t> chipBuffer;
    Clock::time_point timerStart{};
    Clock::time_point lastPacketAt{};
    std::deque<UsbPacket> usbPackets;
    // Draws the device's work per request and the bytes of noise: seeded per device, so that a
    // run repeats exactly.
    std::mt19937 random;

    bool isUsb3000() const;
};

// Which devices a fault applies to: one serial number, or every device.
struct Target {
    bool anyDevice = true;
    std::string serial;

    static Target of(const char* serial);
    bool matches(const std::string& deviceSerial) const;
};

struct CallFault {
    Target target;
    D2xxFunction function;
    unsigned status;
    int occurrence;
};

struct ShortWrite {
    Target target;
    int occurrence;
    unsigned accepted;
};

struct AnswerRule {
    Target target;
    int request;
    int occurrence;
    int fault;  // a SimAnswerFault, or RAW_ANSWER
    int value;
    std::vector<uint8_t> rawBytes;
};
constexpr int RAW_ANSWER = -1;

// Calls of each D2XX function, indexed by D2xxFunction.
using CallCounts = std::array<int, D2XX_FUNCTIONS>;

// An unplugged device, kept to plug it back in: its link's time goes on while it is away.
struct UnpluggedDevice {
    Device device;
    // Plugged back in once its time reaches `replugAt` (when `replugTimed`), or at the
    // `listCallsLeft`-th device-list call from now (when above 0); otherwise only on request.
    bool replugTimed = false;
    Clock::time_point replugAt{};
    int listCallsLeft = 0;
};

// How a device behaves each time it is plugged back in, by serial number.
struct ReplugBehaviour {
    int openRefusals = 0;  // FT_OpenEx calls refused after each re-plug
    unsigned openRefusalStatus = 0;
    bool needsReset = false;
};

struct State {
    std::vector<Device> devices;
    std::map<std::uintptr_t, std::size_t> handles;  // open handle -> index in devices
    // Handles on unplugged devices that the host has not closed: their calls fail with
    // `removedHandleStatus`.
    std::map<std::uintptr_t, std::string> removedHandles;
    unsigned removedHandleStatus = 1;  // FT_INVALID_HANDLE
    std::vector<UnpluggedDevice> unplugged;
    std::map<std::string, ReplugBehaviour> replugBehaviour;
    // FT_OpenEx calls still to refuse, by serial number, and the status they get.
    std::map<std::string, std::pair<int, unsigned>> openRefusals;
    // The location ID the next re-plugged device gets.
    unsigned nextLocationId = 0x1011;
    // Some device has an unplug or a re-plug planned: entry points look for what is due.
    bool plugEventsPlanned = false;
    std::vector<CallFault> callFaults;
    std::vector<ShortWrite> shortWrites;
    std::vector<AnswerRule> answerRules;
    CallCounts callsOnAnyDevice{};
    std::map<std::string, CallCounts> callsPerDevice;  // by serial number
    std::string transcript;
    bool recording = false;
    // The timing model: the device works on each request for a time drawn from
    // [workMin, workMax], its answers cross the serial line and the FTDI chip hands them on in
    // USB packets. Off, every answer is in the read queue the moment its request is written.
    bool timing = false;
    // The timing model in real time: calls sleep as long as they would take. Implies `timing`.
    bool paced = false;
    std::chrono::microseconds workMin{DEFAULT_WORK_MIN_US};
    std::chrono::microseconds workMax{DEFAULT_WORK_MAX_US};

    // The state at process start: powered on, but not recording, so that a program that never
    // calls sim_reset() (the demo, an application) does not grow a transcript nobody reads.
    State() {
        powerOn();
        recording = false;
    }
    // sim_reset(): one attached USB-3000, nothing open, no faults, counters at zero, recording on,
    // virtual time without the timing model.
    void powerOn();
    void clearDevices();
    std::size_t addDevice(unsigned id, const std::string& serial, const std::string& description);

    Device* findBySerial(const std::string& serial);
    // The device behind an open handle, or none for a null, closed or unknown handle.
    Device* findByHandle(const void* handle);
    // Unplugs the device at `index`: it leaves the list, its handles fail as removed ones.
    UnpluggedDevice& unplug(std::size_t index);
    // Plugs the unplugged device at `index` back in, at the end of the list, powered on afresh
    // with a new location ID.
    void replug(std::size_t index);
    // Carries out the unplugs and re-plugs that are due. `listCall`: a device-list call is
    // about to run.
    void applyPlugEvents(bool listCall);
    // The location ID the device list reports for the device at `index`.
    unsigned locationIdAt(std::size_t index) const;
    // The status a call on a handle that names no attached device returns.
    unsigned unknownHandleStatus(const void* handle) const;

    // A fresh handle value: never null, never reused within the process, so that a stale handle
    // can never name a device opened later.
    static std::uintptr_t newHandle();

    // The host's time on a device's link: real time when paced, its virtual time otherwise.
    Clock::time_point hostNow(const Device& device) const;
    // A call on the device ends at `wake`: its virtual time moves on to it; when paced the caller
    // sleeps until it, after letting go of the lock (the returned time, or none).
    Clock::time_point endCallAt(Device& device, Clock::time_point wake) const;
};

// The state and its lock. The state is created on first use, already powered on.
State& state();
std::mutex& stateLock();

}  // namespace sim
