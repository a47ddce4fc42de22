// A stream of VCW frames on one open decoder handle, decoded so that a glitch costs one frame, as
// the Java API's streams do: a failed frame is sent once more, and when it fails again its speech
// is silence (concealed). A device still attached that decodes none of
// FRAMES_WITHOUT_SPEECH_BEFORE_RESET frames in a row is reset and prepared again, at most once a
// run and once every SECONDS_BETWEEN_RESETS; the stream ends NotResponding after
// FRAMES_WITHOUT_SPEECH_WHEN_GONE frames in a row without speech, their silence delivered first.
// An unplugged device is awaited up to the reconnect time-out, reading only D2XX's list every
// RECONNECT_POLL, and the failed frame is sent again once it is back; past the time-out the stream
// ends DeviceGone. Keeps the stream's position and its run of frames without speech across calls.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "decoders/decoder_handles.h"
#include "decoders/stream_outcome.h"

constexpr int32_t FRAMES_WITHOUT_SPEECH_BEFORE_RESET = 10;
constexpr std::chrono::seconds SECONDS_BETWEEN_RESETS{5};
// A second of speech.
constexpr int32_t FRAMES_WITHOUT_SPEECH_WHEN_GONE = 50;
constexpr std::chrono::milliseconds RECONNECT_POLL{100};
// Frames per call into the decoder operations: between two calls a cancel is seen, so that it
// ends a decode within a few tenths of a second.
constexpr std::size_t STREAM_CALL_FRAMES = 50;

class ConcealingStream {
  public:
    // The stream of the open decoder `handle`, whose device has that serial number; a reconnect
    // time-out of zero ends the stream as soon as its device is gone.
    ConcealingStream(int64_t handle, std::string serialNumber,
                     std::chrono::milliseconds reconnectTimeout);

    // Decodes `frames` frames of vcw (7 bytes each) as the stream's next ones into pcm (320 bytes
    // each, samples little-endian); fewer are delivered only when the stream ends. Not for two
    // threads at once.
    StreamOutcome decode(const uint8_t* vcw, std::size_t frames, uint8_t* pcm,
                         StreamListener& listener);

    // From any thread: a decode in progress, or its wait for the device, ends soon with Cancelled,
    // and so does every later one.
    void cancel();

    uint64_t framesConcealed() const { return concealed_.load(); }

  private:
    // One call into the decoder operations: frames decoded, how it failed, its lines (trace lines
    // left out).
    struct Attempt {
        int32_t decoded = 0;
        HandleOutcome outcome;
        std::vector<std::string> lines;
    };
    // What became of a failed frame: whether its block (speech or silence) is delivered, and the
    // end of the stream, if any.
    struct Recovery {
        bool delivered = false;
        StreamOutcome end;
    };

    Attempt decodeAt(const uint8_t* vcw, std::size_t frame, std::size_t count, uint8_t* pcm);
    // `mayAwait`: a device unplugged while the frame is sent again is waited for, as one
    // unplugged on the first try is; false once the stream has waited for it.
    Recovery recover(const uint8_t* vcw, std::size_t frame, uint8_t* pcm, const Attempt& first,
                     StreamListener& listener, bool mayAwait);
    Recovery awaitDevice(const uint8_t* vcw, std::size_t frame, uint8_t* pcm, const Attempt& first,
                         StreamListener& listener);
    // Resets the device unless it was reset less than SECONDS_BETWEEN_RESETS ago; whether it did.
    bool reprepare();
    bool listed() const;
    // Waits `time` unless cancelled; whether it was.
    bool cancelledWithin(std::chrono::milliseconds time);
    StreamOutcome cancelled() const;

    const int64_t handle_;
    const std::string serialNumber_;
    const std::chrono::milliseconds reconnectTimeout_;
    // Index in the stream of the next frame to decode.
    uint64_t nextFrame_ = 0;
    // Frames concealed in a row, up to nextFrame_, and whether the device was reset in that run.
    int32_t framesWithoutSpeech_ = 0;
    bool resetInRun_ = false;
    bool everReset_ = false;
    std::chrono::steady_clock::time_point lastReset_;
    std::atomic<uint64_t> concealed_{0};

    std::mutex cancelLock_;
    std::condition_variable cancelSignal_;
    std::atomic<bool> cancelled_{false};
};

// A duration in words: "30 s", "250 ms".
std::string describeDuration(std::chrono::milliseconds duration);
