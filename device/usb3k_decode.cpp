// Decoding VCW frames: one channel request and one speech answer per frame.
#include <cstring>

#include "device/diagnostics.h"
#include "device/frame_packing.h"
#include "device/usb3000_device.h"
#include "device/usb3k.h"
#include "packet/packet_constants.h"

namespace {

constexpr const char* DECODE = "USB3K::decode";

// The channel field's 8 bytes. At rate table 34: the count byte and the interleaved bits. In the
// plain layout: the 7 packed bytes and a zero, so the request keeps the same length.
void packChannelField(uint8_t rate, const uint8_t* frame, uint8_t* channel) {
    if (rate == RATE_TABLE_34) {
        interleaveFrameInto(frame, channel);
    } else {
        packFrameInto(frame, channel);
        channel[VCW_FRAME_SIZE] = 0;
    }
}

}  // namespace

std::vector<uint8_t> USB3K::decode(const std::vector<uint8_t>& vcw) {
    const std::size_t frames = vcw.size() / VCW_FRAME_SIZE;
    std::vector<uint8_t> speech(ready ? frames * SPEECH_BLOCK_SIZE : 0);
    speech.resize(decodeFrames(vcw.data(), frames, speech.data()) * SPEECH_BLOCK_SIZE);
    return speech;
}

std::size_t USB3K::decodeFrames(const uint8_t* vcw, std::size_t frames, uint8_t* speech) {
    if (!ready) {
        return 0;
    }
    if (frames == 0) {
        writeDiagnostic(DECODE, " - no VCW frames to decode");
        return 0;
    }
    beginOperation();
    PacketField field(FIELD_SPEECH, nullptr, 0);

    // One request at a time: the next frame goes out only after this one's speech is in.
    for (std::size_t i = 0; i < frames; ++i) {
        packChannelField(rate, vcw + i * VCW_FRAME_SIZE, channelField.data());
        switch (exchange(channelRequest, FIELD_SPEECH, field)) {
            case Exchange::NotSent:
                writeDiagnostic(DECODE, " - cannot send channel request");
                return i;
            case Exchange::NoResponse:
                writeDiagnostic(DECODE, " - did not receive speech response");
                return i;
            case Exchange::NoField:
                writeDiagnostic(DECODE, " - no speech field in response");
                return i;
            case Exchange::Answered:
                break;
        }
        std::memcpy(speech + i * SPEECH_BLOCK_SIZE, field.data, SPEECH_BLOCK_SIZE);
    }
    return frames;
}
