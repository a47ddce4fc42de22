#include "decoders/decoder_handles.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "d2xx/d2xx_api.h"
#include "decoders/chunk_decode.h"
#include "decoders/device_preparation.h"
#include "decoders/device_registry.h"
#include "decoders/usb3000_list.h"
#include "device/device_list.h"
#include "device/diagnostics.h"
#include "device/frame_packing.h"
#include "device/wire_trace.h"
#include "packet/packet_constants.h"

namespace {

constexpr const char* DEVICES = "Usb3kDecoder::devices";
constexpr const char* OPEN = "Usb3kDecoder::open";
constexpr const char* DECODE = "Usb3kDecoder::decode";

using Holder = DeviceRegistry::Holder;

// A device that has just come back may refuse to open while the system's driver binds to it: a
// reopen tries again this often, for at most this long.
constexpr std::chrono::milliseconds REOPEN_RETRY{100};
constexpr std::chrono::milliseconds REOPEN_WAIT{2000};

// Only a listing that has been identifying the device for longer than DeviceRegistry::PROBE_WAIT
// is left as a probe holder: a device that stopped answering in the middle.
std::string inUseBy(Holder holder) {
    switch (holder) {
        case Holder::Bridge:
            return "in use by USB3KBridge";
        case Holder::Decoder:
            return "in use by a decoder";
        case Holder::Probe:
            break;
    }
    return "still being identified by a listing";
}

HandleOutcome failed(HandleFailure failure, Trouble trouble, const std::string& serialNumber = "") {
    return {failure, adviceFor(trouble, serialNumber, TRY_AGAIN)};
}

HandleOutcome inUse(Holder holder) {
    switch (holder) {
        case Holder::Bridge:
            return failed(HandleFailure::InUse, Trouble::InUseByBridge);
        case Holder::Decoder:
            return failed(HandleFailure::InUse, Trouble::InUseByDecoder);
        case Holder::Probe:
            break;
    }
    return failed(HandleFailure::NotReady, Trouble::NotResponding);
}

// Why the device of this list record did not get ready: when it did not even open, the cause the
// open's status and the record point to. Each class loader of a JVM that loads usb3k.jar has a
// copy of this library, with a registry of its own, while D2XX is one per process: a device D2XX
// lists as opened may be held by another class loader.
Advice notReadyAdvice(const FT_DEVICE_LIST_INFO_NODE& entry, const USB3K& device) {
    Trouble trouble = device.openStatus == FT_OK ? Trouble::NotReady
                                                 : openFailureTrouble(entry, device.openStatus);
    if (trouble == Trouble::HeldByAnotherProcess) {
        trouble = Trouble::HeldElsewhere;
    }
    return adviceFor(trouble, device.serialNumber, TRY_AGAIN);
}

// The diagnostic lines, trace lines left out, joined by "; ".
std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        if (!isTraceLine(line)) {
            text += text.empty() ? line : "; " + line;
        }
    }
    return text;
}

AttachedUsb3000 describe(const FT_DEVICE_LIST_INFO_NODE& entry) {
    AttachedUsb3000 described;
    described.serialNumber = serialNumberOf(entry);
    described.description = descriptionOf(entry);
    Holder holder;
    if (!deviceRegistry().claim(described.serialNumber, Holder::Probe, holder)) {
        described.reason = inUseBy(holder);
        described.held = true;
        return described;
    }
    DiagnosticCapture capture;
    {
        const USB3K device(described.serialNumber);
        described.usable = device.ready;
        if (device.ready) {
            described.productId = device.productId;
            described.version = device.version;
        } else {
            writeDiagnostic(DEVICES, " - " + notReadyMessage(device));
        }
    }
    deviceRegistry().release(described.serialNumber);
    if (!described.usable) {
        described.reason = joined(capture.lines());
    }
    return described;
}

// Opens and prepares one free device; null (with its lines and `advice`) when it does not get
// ready.
std::unique_ptr<USB3K> openPrepared(const FT_DEVICE_LIST_INFO_NODE& entry, Advice& advice) {
    auto device = std::make_unique<USB3K>(serialNumberOf(entry));
    const std::string failure = prepareForDecoding(*device);
    if (failure.empty()) {
        return device;
    }
    writeDiagnostic(OPEN, " - " + failure);
    advice = notReadyAdvice(entry, *device);
    return nullptr;
}

// The device is gone: its dead handle is closed at once and its serial number no longer claimed.
void letGo(DecoderDevice& held) {
    held.device.reset();
    if (held.claimed) {
        held.claimed = false;
        deviceRegistry().release(held.serialNumber);
    }
}

// Opens the device again and prepares it as an open does, once `held.serialNumber` is claimed;
// opens that are refused are tried again for REOPEN_WAIT. Empty on success, otherwise why not,
// and `openStatus` what the last FT_OpenEx answered.
std::string reopenClaimed(DecoderDevice& held, FT_STATUS& openStatus) {
    const auto deadline = std::chrono::steady_clock::now() + REOPEN_WAIT;
    for (;;) {
        auto device = std::make_unique<USB3K>(held.serialNumber);
        const std::string failure = prepareForDecoding(*device);
        openStatus = device->openStatus;
        if (failure.empty()) {
            held.device = std::move(device);
            return "";
        }
        device.reset();
        if (openStatus == FT_OK || std::chrono::steady_clock::now() + REOPEN_RETRY > deadline) {
            return failure;
        }
        std::this_thread::sleep_for(REOPEN_RETRY);
    }
}

// A decoder whose device is away: reopens it when D2XX lists it again and nobody else holds it.
HandleOutcome reopen(DecoderDevice& held) {
    const std::string& serial = held.serialNumber;
    if (!usb3000StillListed(serial)) {
        writeDiagnostic(DECODE, " - USB-3000 " + serial + " is not attached");
        return failed(HandleFailure::DeviceGone, Trouble::Gone);
    }
    Holder holder;
    if (!deviceRegistry().claim(serial, Holder::Decoder, holder)) {
        writeDiagnostic(DECODE, " - USB-3000 " + serial + " is " + inUseBy(holder));
        return inUse(holder);
    }
    held.claimed = true;
    FT_STATUS openStatus = FT_OK;
    const std::string failure = reopenClaimed(held, openStatus);
    if (!failure.empty()) {
        letGo(held);
        writeDiagnostic(DECODE, " - " + failure);
        return failed(HandleFailure::NotReady,
                      openStatus == FT_OK ? Trouble::NotReady : Trouble::OpenRefused, serial);
    }
    writeDiagnostic(DECODE, " - USB-3000 " + serial + " is attached again and ready");
    return {};
}

}  // namespace

HandleOutcome listUsb3000s(std::vector<AttachedUsb3000>& devices) {
    return listUsb3000s(devices, [](const std::string&) { return true; });
}

HandleOutcome listUsb3000s(std::vector<AttachedUsb3000>& devices, const IdentifyFilter& identify) {
    std::vector<FT_DEVICE_LIST_INFO_NODE> usb3000s;
    const HandleOutcome read = readUsb3000s(DEVICES, usb3000s);
    if (read.failure != HandleFailure::None) {
        return read;
    }
    for (const FT_DEVICE_LIST_INFO_NODE& entry : usb3000s) {
        if (identify(serialNumberOf(entry))) {
            devices.push_back(describe(entry));
            continue;
        }
        AttachedUsb3000 listed;
        listed.serialNumber = serialNumberOf(entry);
        listed.description = descriptionOf(entry);
        listed.looked = false;
        devices.push_back(std::move(listed));
    }
    return {};
}

HandleOutcome openDecoder(const std::string* serialNumber, int64_t& handle, std::string& opened) {
    std::vector<FT_DEVICE_LIST_INFO_NODE> usb3000s;
    HandleOutcome outcome = readUsb3000s(OPEN, usb3000s);
    if (outcome.failure != HandleFailure::None) {
        return outcome;
    }
    if (serialNumber != nullptr) {
        usb3000s.erase(std::remove_if(usb3000s.begin(), usb3000s.end(),
                                      [&](const FT_DEVICE_LIST_INFO_NODE& entry) {
                                          return serialNumberOf(entry) != *serialNumber;
                                      }),
                       usb3000s.end());
        if (usb3000s.empty()) {
            writeDiagnostic(OPEN, " - no USB-3000 with serial number " + *serialNumber);
            return failed(HandleFailure::NoSuchSerial, Trouble::NoSuchSerial);
        }
    } else if (usb3000s.empty()) {
        writeDiagnostic(OPEN, " - no USB-3000 attached");
        return failed(HandleFailure::NoUsb3000, Trouble::NoUsb3000);
    }
    for (const FT_DEVICE_LIST_INFO_NODE& entry : usb3000s) {
        const std::string serial = serialNumberOf(entry);
        Holder holder;
        if (!deviceRegistry().claim(serial, Holder::Decoder, holder)) {
            // Looking for any free device, one that is held is no failure unless it is the only
            // one.
            if (serialNumber != nullptr || usb3000s.size() == 1) {
                writeDiagnostic(OPEN, " - USB-3000 " + serial + " is " + inUseBy(holder));
            }
            if (outcome.failure == HandleFailure::None) {
                outcome = inUse(holder);
            }
            continue;
        }
        Advice advice;
        std::unique_ptr<USB3K> device = openPrepared(entry, advice);
        if (!device) {
            // Closed before it is released, so that nobody opens it while it is still open.
            deviceRegistry().release(serial);
            outcome = {HandleFailure::NotReady, std::move(advice)};
            continue;
        }
        auto held = std::make_shared<DecoderDevice>();
        held->serialNumber = serial;
        held->device = std::move(device);
        held->claimed = true;
        handle = deviceRegistry().add(std::move(held));
        opened = serial;
        return {};
    }
    if (usb3000s.size() > 1) {
        writeDiagnostic(OPEN, " - none of the " + std::to_string(usb3000s.size()) +
                                  " attached USB-3000s is free and ready");
    }
    return outcome;
}

HandleOutcome decodeOnHandle(int64_t handle, int32_t frames, FrameChannel& channel,
                             int32_t& decoded) {
    decoded = 0;
    const std::shared_ptr<DecoderDevice> held = deviceRegistry().find(handle);
    if (!held) {
        writeDiagnostic(DECODE, " - the decoder is closed");
        return {HandleFailure::NotOpen, {}};
    }
    if (frames < 0 || !channel.holds(frames)) {
        writeDiagnostic(DECODE, " - frames out of range");
        return {HandleFailure::NotOpen, {}};
    }
    std::lock_guard<std::mutex> hold(held->use);
    if (held->closed) {
        writeDiagnostic(DECODE, " - the decoder is closed");
        return {HandleFailure::NotOpen, {}};
    }
    if (frames == 0) {
        return {};
    }
    if (!held->device) {
        const HandleOutcome back = reopen(*held);
        if (back.failure != HandleFailure::None) {
            return back;
        }
    }
    USB3K& device = *held->device;
    decoded = static_cast<int32_t>(decodeChunks(
        device, held->buffers, channel, static_cast<std::size_t>(frames), DECODE_CHUNK_FRAMES));
    if (decoded == frames) {
        return {};
    }
    if (!usb3000StillListed(device.serialNumber)) {
        writeDiagnostic(DECODE, " - USB-3000 " + device.serialNumber + " is no longer attached");
        letGo(*held);
        return failed(HandleFailure::DeviceGone, Trouble::Gone);
    }
    return failed(HandleFailure::FrameFailed, Trouble::NotResponding);
}

HandleOutcome decodeOnHandle(int64_t handle, const uint8_t* vcw, int32_t frames, uint8_t* pcm,
                             int32_t& decoded) {
    MemoryFrames memory(vcw, frames < 0 ? 0 : static_cast<std::size_t>(frames), pcm);
    return decodeOnHandle(handle, frames, memory, decoded);
}

HandleOutcome reprepareOnHandle(int64_t handle, int32_t framesWithoutSpeech) {
    const std::shared_ptr<DecoderDevice> held = deviceRegistry().find(handle);
    if (!held) {
        writeDiagnostic(DECODE, " - the decoder is closed");
        return {HandleFailure::NotOpen, {}};
    }
    std::lock_guard<std::mutex> hold(held->use);
    if (!held->device) {
        writeDiagnostic(DECODE, " - the decoder is closed");
        return {HandleFailure::NotOpen, {}};
    }
    USB3K& device = *held->device;
    const std::string run = " - USB-3000 " + device.serialNumber + " answered none of " +
                            std::to_string(framesWithoutSpeech) + " frames: reset";
    // A hung device answers no probe, so the link is cleared for the reset instead. The commands'
    // own lines say which step failed; this line ends them.
    if (device.clearLinkForReset() && prepareForDecoding(device).empty()) {
        writeDiagnostic(DECODE, run);
        return {};
    }
    writeDiagnostic(DECODE, run + " failed");
    return failed(HandleFailure::FrameFailed, Trouble::NotResponding, device.serialNumber);
}

void closeDecoder(int64_t handle) {
    const std::shared_ptr<DecoderDevice> held = deviceRegistry().remove(handle);
    if (!held) {
        return;
    }
    std::lock_guard<std::mutex> hold(held->use);
    held->closed = true;
    letGo(*held);
    held->buffers = ChunkBuffers{};
}
