// What a concealing stream tells its user while it decodes, and how a call of it ended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What a stream tells its client while it decodes, on the decoding thread.
class StreamListener {
  public:
    virtual ~StreamListener() = default;
    // The frame's speech is silence: the device decoded neither of two tries.
    virtual void frameConcealed(uint64_t frameIndex, const std::vector<std::string>& lines) = 0;
    // The device was unplugged at this frame; the stream waits for it.
    virtual void deviceAway(const std::string& serialNumber, uint64_t frameIndex) = 0;
    // It is attached again; the stream goes on with this frame.
    virtual void deviceBack(const std::string& serialNumber, uint64_t frameIndex) = 0;
};

enum class StreamEnd {
    None,           // every frame asked for was delivered
    DeviceGone,     // unplugged, and not attached again within the reconnect time-out
    NotResponding,  // attached, but decoded none of a second's frames, a reset among them or not
    Cancelled,      // cancel() was called: the client left or the server is draining
};

struct StreamOutcome {
    // Frames delivered (their own speech or concealed), from the first one of the call.
    std::size_t frames = 0;
    StreamEnd end = StreamEnd::None;
    // For an end: the message, the library's lines for it, and what to do.
    std::string message;
    std::vector<std::string> lines;
    std::string fix;
};
