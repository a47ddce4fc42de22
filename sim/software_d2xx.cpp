#include "d2xx/d2xx.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "sim/answer_queue.h"
#include "sim/call_faults.h"
#include "sim/d2xx_functions.h"
#include "sim/pacing.h"
#include "sim/serial_line.h"
#include "sim/sim_state.h"
#include "sim/transcript.h"
#include "sim/usb3000.h"

namespace sim {
namespace {

using Lock = std::lock_guard<std::mutex>;

// The record's Flags bit for a device that is open, and the chip type reported for every device.
constexpr ULONG FLAG_OPENED = 1;
constexpr ULONG CHIP_TYPE = 5;

std::string statusText(FT_STATUS status) {
    return " -> " + std::to_string(status);
}

// A call as the transcript starts it: "FT_Write(arguments)".
std::string callText(D2xxFunction function, const std::string& arguments) {
    return std::string(d2xxName(function)) + "(" + arguments + ")";
}

std::string noArguments() {
    return {};
}

// Copies text into a fixed record field, zero-terminated when shorter than the field.
void copyText(char* field, std::size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

std::uintptr_t handleValue(const void* handle) {
    return reinterpret_cast<std::uintptr_t>(handle);
}

// One call on a handle whose only work is `apply` on the device: the link settings. `arguments`
// gives the call's arguments as the transcript shows them.
template <typename Arguments, typename Apply>
FT_STATUS onHandle(FT_HANDLE handle, D2xxFunction function, Arguments&& arguments, Apply&& apply) {
    Lock lock(stateLock());
    State& s = state();
    s.applyPlugEvents(false);
    Device* device = s.findByHandle(handle);
    FT_STATUS status = FT_OK;
    if (device == nullptr) {
        callFails(s, nullptr, function, status);
        status = s.unknownHandleStatus(handle);
        if (function == D2xxFunction::Close && s.removedHandles.erase(handleValue(handle)) > 0 &&
            status != FT_INVALID_HANDLE) {
            status = FT_OK;  // closing a removed device's handle releases it
        }
    } else if (!callFails(s, &device->serial, function, status)) {
        apply(*device);
    }
    record(s, [&] {
        return deviceName(device) + " " + callText(function, arguments()) + statusText(status);
    });
    return status;
}

}  // namespace

// The D2XX functions under FTDI's names and calling convention: what the emulator exports, in
// place of FTDI's library. C linkage makes them the functions d2xx/d2xx.h declares.
extern "C" {

FT_STATUS WINAPI FT_CreateDeviceInfoList(LPDWORD count) {
    Lock lock(stateLock());
    State& s = state();
    FT_STATUS status = FT_OK;
    s.applyPlugEvents(true);
    if (!callFails(s, nullptr, D2xxFunction::CreateDeviceInfoList, status)) {
        if (count == nullptr) {
            status = FT_INVALID_PARAMETER;
        } else {
            *count = static_cast<DWORD>(s.devices.size());
        }
    }
    record(s, [&] {
        std::string line = callText(D2xxFunction::CreateDeviceInfoList, "") + statusText(status);
        if (status == FT_OK) {
            line += " count=" + std::to_string(*count);
        }
        return line;
    });
    return status;
}

FT_STATUS WINAPI FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* records, LPDWORD count) {
    Lock lock(stateLock());
    State& s = state();
    // The transcript shows the room the caller gave, which the call overwrites.
    const bool roomGiven = count != nullptr;
    const DWORD room = roomGiven ? *count : 0;
    s.applyPlugEvents(false);
    FT_STATUS status = FT_OK;
    if (!callFails(s, nullptr, D2xxFunction::GetDeviceInfoList, status)) {
        if (records == nullptr || count == nullptr) {
            status = FT_INVALID_PARAMETER;
        } else {
            // Never more records than the caller has room for; the count says how many were filled.
            const std::size_t filled = std::min<std::size_t>(*count, s.devices.size());
            for (std::size_t i = 0; i < filled; ++i) {
                const Device& device = s.devices[i];
                FT_DEVICE_LIST_INFO_NODE& record = records[i];
                std::memset(&record, 0, sizeof record);
                record.Flags = device.open ? FLAG_OPENED : 0;
                record.Type = CHIP_TYPE;
                record.ID = device.id;
                record.LocId = static_cast<DWORD>(s.locationIdAt(i));
                copyText(record.SerialNumber, sizeof record.SerialNumber, device.serial);
                copyText(record.Description, sizeof record.Description, device.description);
                record.ftHandle =
                    device.open ? reinterpret_cast<FT_HANDLE>(device.handle) : nullptr;
            }
            *count = static_cast<DWORD>(filled);
        }
    }
    record(s, [&] {
        std::string line =
            callText(D2xxFunction::GetDeviceInfoList, roomGiven ? std::to_string(room) : "?") +
            statusText(status);
        if (status == FT_OK) {
            line += " count=" + std::to_string(*count);
        }
        return line;
    });
    return status;
}

FT_STATUS WINAPI FT_OpenEx(PVOID arg, DWORD flags, FT_HANDLE* handle) {
    Lock lock(stateLock());
    State& s = state();
    // Only opening by serial number is modelled; for other flags the argument is not a text.
    const bool bySerial = flags == FT_OPEN_BY_SERIAL_NUMBER && arg != nullptr;
    const std::string serial = bySerial ? static_cast<const char*>(arg) : "?";
    s.applyPlugEvents(false);
    FT_STATUS status = FT_OK;
    if (!callFails(s, &serial, D2xxFunction::OpenEx, status)) {
        Device* device = bySerial ? s.findBySerial(serial) : nullptr;
        const auto refusal = s.openRefusals.find(serial);
        if (!bySerial || handle == nullptr) {
            status = FT_INVALID_PARAMETER;
        } else if (device == nullptr) {
            status = FT_DEVICE_NOT_FOUND;
        } else if (refusal != s.openRefusals.end() && refusal->second.first > 0) {
            // Just plugged back in: the kernel's driver is still binding to it.
            --refusal->second.first;
            status = refusal->second.second;
        } else if (device->open) {
            status = FT_DEVICE_NOT_OPENED;  // one handle per device at a time, as with a real chip
        } else {
            device->open = true;
            device->handle = State::newHandle();
            s.handles[device->handle] = static_cast<std::size_t>(device - s.devices.data());
            *handle = reinterpret_cast<FT_HANDLE>(device->handle);
        }
    }
    record(s, [&] {
        return callText(D2xxFunction::OpenEx, serial + ", " + std::to_string(flags)) +
               statusText(status);
    });
    return status;
}

FT_STATUS WINAPI FT_SetDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits,
                                           UCHAR parity) {
    return onHandle(
        handle, D2xxFunction::SetDataCharacteristics,
        [&] {
            return std::to_string(wordLength) + ", " + std::to_string(stopBits) + ", " +
                   std::to_string(parity);
        },
        [](Device&) {});
}

FT_STATUS WINAPI FT_SetFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff) {
    return onHandle(
        handle, D2xxFunction::SetFlowControl,
        [&] {
            return std::to_string(flowControl) + ", " + std::to_string(xon) + ", " +
                   std::to_string(xoff);
        },
        [](Device&) {});
}

FT_STATUS WINAPI FT_ClrRts(FT_HANDLE handle) {
    return onHandle(handle, D2xxFunction::ClrRts, noArguments, [](Device&) {});
}

FT_STATUS WINAPI FT_SetBaudRate(FT_HANDLE handle, ULONG baudRate) {
    return onHandle(
        handle, D2xxFunction::SetBaudRate, [&] { return std::to_string(baudRate); },
        [baudRate](Device& device) { device.baudRate = baudRate; });
}

FT_STATUS WINAPI FT_SetLatencyTimer(FT_HANDLE handle, UCHAR latency) {
    return onHandle(
        handle, D2xxFunction::SetLatencyTimer, [&] { return std::to_string(latency); },
        [latency](Device& device) { device.latencyMs = latency; });
}

FT_STATUS WINAPI FT_SetUSBParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize) {
    return onHandle(
        handle, D2xxFunction::SetUSBParameters,
        [&] { return std::to_string(inSize) + ", " + std::to_string(outSize); }, [](Device&) {});
}

FT_STATUS WINAPI FT_SetTimeouts(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout) {
    return onHandle(
        handle, D2xxFunction::SetTimeouts,
        [&] { return std::to_string(readTimeout) + ", " + std::to_string(writeTimeout); },
        [readTimeout](Device& device) { device.readTimeoutMs = readTimeout; });
}

FT_STATUS WINAPI FT_Write(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD written) {
    Clock::time_point wake{};
    FT_STATUS status = FT_OK;
    {
        Lock lock(stateLock());
        State& s = state();
        s.applyPlugEvents(false);
        Device* device = s.findByHandle(handle);
        const auto* bytes = static_cast<const uint8_t*>(buffer);
        DWORD accepted = 0;
        std::vector<std::string> notes;
        if (device == nullptr) {
            callFails(s, nullptr, D2xxFunction::Write, status);
            status = s.unknownHandleStatus(handle);
        } else if (!callFails(s, &device->serial, D2xxFunction::Write, status)) {
            if (bytes == nullptr && count > 0) {
                status = FT_INVALID_PARAMETER;
            } else {
                accepted = acceptedByWrite(s, device->serial, count);
                const Clock::time_point now = s.hostNow(*device);
                if (s.timing) {
                    settle(*device, now);
                }
                // The request has reached the device once its bytes have crossed the line.
                const Clock::time_point sent =
                    s.timing ? now + lineTime(accepted, device->baudRate) : now;
                notes = deliverToDevice(s, *device, bytes, accepted, sent);
                wake = s.endCallAt(*device, sent);
            }
        }
        if (written != nullptr) {
            *written = accepted;
        }
        record(s, [&] {
            const std::size_t shown = bytes != nullptr ? count : 0;
            return deviceName(device) + " " +
                   callText(D2xxFunction::Write,
                            std::to_string(count) + ":" + hexList(bytes, shown)) +
                   statusText(status) + " written=" + std::to_string(accepted);
        });
        for (const std::string& note : notes) {
            record(s, [&note]() -> const std::string& { return note; });
        }
    }
    waitUntil(wake);
    return status;
}

FT_STATUS WINAPI FT_Read(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD received) {
    Clock::time_point wake{};
    FT_STATUS status = FT_OK;
    {
        Lock lock(stateLock());
        State& s = state();
        s.applyPlugEvents(false);
        Device* device = s.findByHandle(handle);
        auto* bytes = static_cast<uint8_t*>(buffer);
        std::size_t got = 0;
        if (device == nullptr) {
            callFails(s, nullptr, D2xxFunction::Read, status);
            status = s.unknownHandleStatus(handle);
        } else if (!callFails(s, &device->serial, D2xxFunction::Read, status)) {
            if (bytes == nullptr && count > 0) {
                status = FT_INVALID_PARAMETER;
            } else {
                // The read returns once its count has arrived, or when its time-out has passed
                // with what arrived by then. Without the timing model nothing more will arrive.
                const Clock::time_point now = s.hostNow(*device);
                Clock::time_point returns = now;
                if (s.timing) {
                    settle(*device, now);
                    if (device->readQueue.size() < count) {
                        const Clock::time_point deadline =
                            now + std::chrono::milliseconds(device->readTimeoutMs);
                        returns = timeWhenQueued(*device, count, deadline);
                        settle(*device, returns);
                    }
                } else if (device->readQueue.size() < count) {
                    returns = now + std::chrono::milliseconds(device->readTimeoutMs);
                }
                got = std::min<std::size_t>(count, device->readQueue.size());
                device->readQueue.take(bytes, got);
                if (got < count) {
                    hostEvent(s, *device, HostEvent::ReadTimeout, returns);
                }
                wake = s.endCallAt(*device, returns);
            }
        }
        if (received != nullptr) {
            *received = static_cast<DWORD>(got);
        }
        record(s, [&] {
            return deviceName(device) + " " + callText(D2xxFunction::Read, std::to_string(count)) +
                   statusText(status) + " got=" + std::to_string(got) + ":" + hexList(bytes, got);
        });
    }
    waitUntil(wake);
    return status;
}

FT_STATUS WINAPI FT_GetQueueStatus(FT_HANDLE handle, LPDWORD queued) {
    Lock lock(stateLock());
    State& s = state();
    s.applyPlugEvents(false);
    Device* device = s.findByHandle(handle);
    FT_STATUS status = FT_OK;
    DWORD count = 0;
    if (device == nullptr) {
        callFails(s, nullptr, D2xxFunction::GetQueueStatus, status);
        status = s.unknownHandleStatus(handle);
    } else if (!callFails(s, &device->serial, D2xxFunction::GetQueueStatus, status)) {
        if (queued == nullptr) {
            status = FT_INVALID_PARAMETER;
        } else {
            if (s.timing) {
                settle(*device, s.hostNow(*device));
            }
            count = static_cast<DWORD>(device->readQueue.size());
        }
    }
    if (queued != nullptr) {
        *queued = count;
    }
    record(s, [&] {
        return deviceName(device) + " " + callText(D2xxFunction::GetQueueStatus, "") +
               statusText(status) + " queued=" + std::to_string(count);
    });
    return status;
}

FT_STATUS WINAPI FT_Purge(FT_HANDLE handle, ULONG mask) {
    // Written bytes reach the device at once, so only the read side has anything to discard.
    // Only what has reached the host goes: answers still on the line or in the chip, and those
    // held back, arrive after it; those held back for this purge arrive right after it.
    return onHandle(
        handle, D2xxFunction::Purge, [&] { return std::to_string(mask); },
        [mask](Device& device) {
            if (mask & FT_PURGE_RX) {
                const State& s = state();
                const Clock::time_point now = s.hostNow(device);
                if (s.timing) {
                    settle(device, now);
                }
                device.readQueue.clear();
                hostEvent(s, device, HostEvent::ReceivePurge, now);
            }
        });
}

FT_STATUS WINAPI FT_Close(FT_HANDLE handle) {
    return onHandle(handle, D2xxFunction::Close, noArguments, [](Device& device) {
        State& s = state();
        s.handles.erase(device.handle);
        device.open = false;
        device.handle = 0;
        device.readQueue.clear();
        device.inFlight.clear();
        clearLine(device);
    });
}

}  // extern "C"

}  // namespace sim
