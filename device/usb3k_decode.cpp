// Decoding VCW frames: one channel request and one speech answer per frame.
#include "device/diagnostics.h"
#include "device/frame_packing.h"
#include "device/usb3k.h"
#include "packet/packet_constants.h"

namespace {

constexpr const char* DECODE = "USB3K::decode";
constexpr int32_t CHANNEL_FIELD_SIZE = 8;

// The channel field's 8 bytes. At rate table 34: the count byte and the interleaved bits. In the
// plain layout: the 7 packed bytes and a zero, so the request keeps the same length.
std::vector<uint8_t> channelData(uint8_t rate, const uint8_t* frame) {
    if (rate == RATE_TABLE_34) {
        return interleaveFrame(frame);
    }
    std::vector<uint8_t> packed = packFrame(static_cast<int16_t>(VCW_FRAME_SIZE), frame);
    packed.resize(CHANNEL_FIELD_SIZE, 0);
    return packed;
}

}  // namespace

std::vector<uint8_t> USB3K::decode(const std::vector<uint8_t>& vcw) {
    std::vector<uint8_t> speech;
    if (!ready) {
        return speech;
    }
    const std::size_t frames = vcw.size() / VCW_FRAME_SIZE;
    if (frames == 0) {
        writeDiagnostic(DECODE, " - no VCW frames to decode");
        return speech;
    }
    speech.reserve(frames * SPEECH_BLOCK_SIZE);
    beginOperation();

    for (std::size_t i = 0; i < frames; ++i) {
        // One request at a time: the next frame goes out only after this one's speech is in.
        std::unique_ptr<ResponsePacket> response;
        {
            const std::vector<uint8_t> packed = channelData(rate, vcw.data() + i * VCW_FRAME_SIZE);
            RequestPacket request(PACKET_CHANNEL, true);
            request.addField(
                std::make_unique<PacketField>(FIELD_CHANNEL, packed.data(), CHANNEL_FIELD_SIZE));
            if (sendPacket(request) < 0) {
                writeDiagnostic(DECODE, " - cannot send channel request");
                break;
            }
        }
        response = receivePacket();
        if (!response) {
            writeDiagnostic(DECODE, " - did not receive speech response");
            break;
        }
        const std::unique_ptr<PacketField> field = response->getField(FIELD_SPEECH);
        if (!field) {
            distrustLink();
            writeDiagnostic(DECODE, " - no speech field in response");
            break;
        }
        speech.insert(speech.end(), field->data, field->data + field->length);
    }
    return speech;
}
