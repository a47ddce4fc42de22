#include "decoders/concealing_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "decoders/usb3000_list.h"
#include "device/device_list.h"
#include "device/diagnostics.h"
#include "device/frame_packing.h"
#include "device/wire_trace.h"
#include "packet/packet_constants.h"

namespace {

StreamOutcome ended(StreamEnd end, std::string message, std::vector<std::string> lines,
                    std::string fix) {
    StreamOutcome outcome;
    outcome.end = end;
    outcome.message = std::move(message);
    outcome.lines = std::move(lines);
    outcome.fix = std::move(fix);
    return outcome;
}

std::string notDecoded(uint64_t frameIndex) {
    return ": frame " + std::to_string(frameIndex + 1) + " of the VCW stream not decoded";
}

}  // namespace

std::string describeDuration(std::chrono::milliseconds duration) {
    const auto millis = duration.count();
    return millis % 1000 == 0 ? std::to_string(millis / 1000) + " s"
                              : std::to_string(millis) + " ms";
}

ConcealingStream::ConcealingStream(int64_t handle, std::string serialNumber,
                                   std::chrono::milliseconds reconnectTimeout)
    : handle_(handle),
      serialNumber_(std::move(serialNumber)),
      reconnectTimeout_(reconnectTimeout) {}

void ConcealingStream::cancel() {
    {
        std::lock_guard<std::mutex> hold(cancelLock_);
        cancelled_.store(true);
    }
    cancelSignal_.notify_all();
}

bool ConcealingStream::cancelledWithin(std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> hold(cancelLock_);
    return cancelSignal_.wait_for(hold, time, [this] { return cancelled_.load(); });
}

StreamOutcome ConcealingStream::cancelled() const {
    return ended(StreamEnd::Cancelled,
                 "cancelled after " + std::to_string(nextFrame_) + " frames of the VCW stream", {},
                 "");
}

StreamOutcome ConcealingStream::decode(const uint8_t* vcw, std::size_t frames, uint8_t* pcm,
                                       StreamListener& listener) {
    std::size_t done = 0;
    while (done < frames) {
        if (cancelled_.load()) {
            StreamOutcome outcome = cancelled();
            outcome.frames = done;
            return outcome;
        }
        const std::size_t count = std::min(STREAM_CALL_FRAMES, frames - done);
        const Attempt attempt = decodeAt(vcw, done, count, pcm);
        const auto decoded = static_cast<std::size_t>(attempt.decoded);
        done += decoded;
        nextFrame_ += decoded;
        if (decoded > 0) {
            framesWithoutSpeech_ = 0;
            resetInRun_ = false;
        }
        if (decoded == count) {
            continue;
        }
        Recovery recovery =
            attempt.outcome.failure == HandleFailure::DeviceGone && reconnectTimeout_.count() > 0
                ? awaitDevice(vcw, done, pcm, attempt, listener)
                : recover(vcw, done, pcm, attempt, listener, true);
        if (recovery.delivered) {
            ++done;
            ++nextFrame_;
        }
        if (recovery.end.end != StreamEnd::None) {
            recovery.end.frames = done;
            return std::move(recovery.end);
        }
    }
    StreamOutcome outcome;
    outcome.frames = done;
    return outcome;
}

ConcealingStream::Attempt ConcealingStream::decodeAt(const uint8_t* vcw, std::size_t frame,
                                                     std::size_t count, uint8_t* pcm) {
    Attempt attempt;
    DiagnosticCapture capture;
    attempt.outcome =
        decodeOnHandle(handle_, vcw + frame * VCW_FRAME_SIZE, static_cast<int32_t>(count),
                       pcm + frame * SPEECH_BLOCK_SIZE, attempt.decoded);
    for (std::string& line : capture.take()) {
        if (!isTraceLine(line)) {
            attempt.lines.push_back(std::move(line));
        }
    }
    return attempt;
}

ConcealingStream::Recovery ConcealingStream::recover(const uint8_t* vcw, std::size_t frame,
                                                     uint8_t* pcm, const Attempt& first,
                                                     StreamListener& listener, bool mayAwait) {
    std::vector<std::string> lines = first.lines;
    Attempt again;
    const Attempt* last = &first;
    if (first.outcome.failure != HandleFailure::DeviceGone) {
        again = decodeAt(vcw, frame, 1, pcm);
        if (again.decoded == 1) {
            framesWithoutSpeech_ = 0;
            resetInRun_ = false;
            return {true, {}};
        }
        last = &again;
        lines.insert(lines.end(), again.lines.begin(), again.lines.end());
    }
    if (last->outcome.failure == HandleFailure::DeviceGone) {
        if (last == &again && mayAwait && reconnectTimeout_.count() > 0) {
            return awaitDevice(vcw, frame, pcm, again, listener);
        }
        return {false,
                ended(StreamEnd::DeviceGone, failureMessage(last->lines) + notDecoded(nextFrame_),
                      std::move(lines), last->outcome.advice.fix)};
    }
    std::memset(pcm + frame * SPEECH_BLOCK_SIZE, 0, SPEECH_BLOCK_SIZE);
    concealed_.fetch_add(1);
    ++framesWithoutSpeech_;
    listener.frameConcealed(nextFrame_, lines);
    if (framesWithoutSpeech_ >= FRAMES_WITHOUT_SPEECH_BEFORE_RESET && !resetInRun_ && reprepare()) {
        resetInRun_ = true;
    }
    if (framesWithoutSpeech_ >= FRAMES_WITHOUT_SPEECH_WHEN_GONE) {
        // Each failed frame found the device still attached: it answers nothing usable.
        const std::string& cause = last->outcome.advice.cause;
        std::string message = "USB-3000 " + serialNumber_ + " decoded none of frames " +
                              std::to_string(nextFrame_ + 2 - framesWithoutSpeech_) + " to " +
                              std::to_string(nextFrame_ + 1) + " of the VCW stream" +
                              (resetInRun_ ? ", not even after a reset" : "") +
                              (cause.empty() ? "" : ": " + cause);
        return {true, ended(StreamEnd::NotResponding, std::move(message), std::move(lines),
                            last->outcome.advice.fix)};
    }
    return {true, {}};
}

ConcealingStream::Recovery ConcealingStream::awaitDevice(const uint8_t* vcw, std::size_t frame,
                                                         uint8_t* pcm, const Attempt& first,
                                                         StreamListener& listener) {
    listener.deviceAway(serialNumber_, nextFrame_);
    const auto deadline = std::chrono::steady_clock::now() + reconnectTimeout_;
    Attempt last;
    bool triedAgain = false;
    while (std::chrono::steady_clock::now() < deadline) {
        if (cancelledWithin(RECONNECT_POLL)) {
            return {false, cancelled()};
        }
        if (!listed()) {
            // A look at D2XX's list opens nothing and writes no line: the frame is sent again
            // only once the device is back, so the wait is not a line every poll.
            continue;
        }
        last = decodeAt(vcw, frame, 1, pcm);
        triedAgain = true;
        if (last.decoded == 1) {
            framesWithoutSpeech_ = 0;
            listener.deviceBack(serialNumber_, nextFrame_);
            return {true, {}};
        }
        const HandleFailure failure = last.outcome.failure;
        if (failure != HandleFailure::DeviceGone && failure != HandleFailure::NotReady) {
            listener.deviceBack(serialNumber_, nextFrame_);
            return recover(vcw, frame, pcm, last, listener, false);
        }
    }
    std::vector<std::string> lines = first.lines;
    if (triedAgain) {
        lines.insert(lines.end(), last.lines.begin(), last.lines.end());
    }
    return {false, ended(StreamEnd::DeviceGone,
                         "USB-3000 " + serialNumber_ + " was not attached again within " +
                             describeDuration(reconnectTimeout_) +
                             " (check its cable and its USB hub)" + notDecoded(nextFrame_),
                         std::move(lines), first.outcome.advice.fix)};
}

bool ConcealingStream::reprepare() {
    const auto now = std::chrono::steady_clock::now();
    if (everReset_ && now - lastReset_ < SECONDS_BETWEEN_RESETS) {
        return false;
    }
    everReset_ = true;
    lastReset_ = now;
    reprepareOnHandle(handle_, framesWithoutSpeech_);
    return true;
}

bool ConcealingStream::listed() const {
    // Its lines, when the list cannot be read, are of no use to a stream that waits.
    DiagnosticCapture quiet(false);
    std::vector<FT_DEVICE_LIST_INFO_NODE> usb3000s;
    if (readUsb3000s("Usb3kDecoder::watch", usb3000s).failure != HandleFailure::None) {
        return true;
    }
    return std::any_of(usb3000s.begin(), usb3000s.end(),
                       [this](const FT_DEVICE_LIST_INFO_NODE& entry) {
                           return serialNumberOf(entry) == serialNumber_;
                       });
}
