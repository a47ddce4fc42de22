// The device code over a D2XX whose every status, count and received byte comes from the input
// (fuzz/fake_d2xx.h): opening and identifying, the control commands, decoding, and single
// exchanges, against whatever a driver and a device could answer, with the wire trace on.
//
// Input: a plan byte, then the fake D2XX's script. Plan bits 0 to 2: the frames to decode;
// bit 3: a part frame after them; bits 4 and 5: exchanges made directly with sendPacket and
// receivePacket; bit 6: the devices come from USB3KFactory instead of one opened by serial number;
// bit 7: decodeFrames into a buffer of exactly the frames' size instead of decode.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "device/command_result.h"
#include "device/frame_packing.h"
#include "device/usb3000_device.h"
#include "device/usb3k.h"
#include "device/usb3k_factory.h"
#include "fuzz/fake_d2xx.h"
#include "fuzz/fuzz_check.h"
#include "packet/packet_constants.h"

namespace {

constexpr const char* SERIAL_NUMBER = "FUZZ0001";
constexpr std::size_t PART_FRAME_SIZE = 3;
// What decodeFrames must leave alone past the last frame it decoded.
constexpr uint8_t UNWRITTEN = 0xA5;

struct Plan {
    explicit Plan(uint8_t byte)
        : frames(byte & 0x07),
          partFrame((byte & 0x08) != 0),
          directExchanges((byte >> 4) & 0x03),
          throughFactory((byte & 0x40) != 0),
          intoBuffer((byte & 0x80) != 0) {}

    std::size_t frames;
    bool partFrame;
    int directExchanges;
    bool throughFactory;
    bool intoBuffer;
};

// A command's result: one of the library's own failures, or the device's answer (at most
// `highest`: a reset's answer carries no status byte).
void checkCommandResult(const USB3K& device, int32_t result, int32_t highest) {
    FUZZ_CHECK(result == COMMAND_NOT_READY || result == COMMAND_NOT_SENT ||
               result == COMMAND_NO_RESPONSE || result == COMMAND_NO_FIELD ||
               (result >= COMMAND_ACCEPTED && result <= highest));
    FUZZ_CHECK(device.ready == (result != COMMAND_NOT_READY));
}

void checkReceived(const ResponsePacket& response) {
    FUZZ_CHECK(response.bytes != nullptr);
    FUZZ_CHECK(response.length >= static_cast<int32_t>(PACKET_HEADER_SIZE) &&
               response.length <= static_cast<int32_t>(PACKET_MAX_SIZE));
    const uint8_t* bytes = response.bytes.get();
    FUZZ_CHECK(bytes[0] == PACKET_START);
    FUZZ_CHECK((bytes[1] << 8 | bytes[2]) + static_cast<int32_t>(PACKET_HEADER_SIZE) ==
               response.length);
}

std::vector<uint8_t> vcwFrames(const Plan& plan) {
    std::vector<uint8_t> vcw(plan.frames * VCW_FRAME_SIZE + (plan.partFrame ? PART_FRAME_SIZE : 0));
    for (std::size_t i = 0; i < vcw.size(); ++i) {
        vcw[i] = static_cast<uint8_t>(i * 37 + 11);
    }
    return vcw;
}

// The speech buffer is exactly as long as the frames need, so that ASan sees any write past it.
void decodeIntoBuffer(USB3K& device, const Plan& plan) {
    const std::vector<uint8_t> vcw = vcwFrames(plan);
    const std::size_t bufferSize = plan.frames * SPEECH_BLOCK_SIZE;
    const auto speech = std::make_unique<uint8_t[]>(bufferSize);
    std::fill(speech.get(), speech.get() + bufferSize, UNWRITTEN);
    const std::size_t decoded = device.decodeFrames(vcw.data(), plan.frames, speech.get());
    FUZZ_CHECK(decoded <= plan.frames);
    FUZZ_CHECK(device.ready || decoded == 0);
    FUZZ_CHECK(std::all_of(speech.get() + decoded * SPEECH_BLOCK_SIZE, speech.get() + bufferSize,
                           [](uint8_t byte) { return byte == UNWRITTEN; }));
}

void exercise(USB3K& device, const Plan& plan) {
    if (device.ready) {
        // Identification keeps a text up to its terminating zero.
        FUZZ_CHECK(device.productId.find('\0') == std::string::npos);
        FUZZ_CHECK(device.version.find('\0') == std::string::npos);
    }

    checkCommandResult(device, device.reset(), COMMAND_ACCEPTED);
    checkCommandResult(device, device.stopCodec(), 0xFF);
    const int32_t rateResult = device.setRate();
    checkCommandResult(device, rateResult, 0xFF);
    if (rateResult == COMMAND_ACCEPTED) {
        FUZZ_CHECK(device.rate == RATE_TABLE_34);
    }

    if (plan.intoBuffer) {
        decodeIntoBuffer(device, plan);
    } else {
        const std::vector<uint8_t> speech = device.decode(vcwFrames(plan));
        FUZZ_CHECK(speech.size() % SPEECH_BLOCK_SIZE == 0);
        FUZZ_CHECK(speech.size() <= plan.frames * SPEECH_BLOCK_SIZE);
        FUZZ_CHECK(device.ready || speech.empty());
    }

    for (int i = 0; i < plan.directExchanges; ++i) {
        RequestPacket request(PACKET_CONTROL, true);
        request.addField(std::make_unique<PacketField>(FIELD_RESET, nullptr, 0));
        const int32_t sent = device.sendPacket(request);
        FUZZ_CHECK(sent <= static_cast<int32_t>(request.toBytes().size()));
        const std::unique_ptr<ResponsePacket> response = device.receivePacket();
        if (response) {
            checkReceived(*response);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The wire trace writes out every packet read, whole or cut short: fuzz that too. Its lines
    // also make a replayed finding easier to follow.
    setenv("USB3K_TRACE", "1", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const Plan plan(data[0]);
    fake_d2xx::startScript(data + 1, size - 1);
    if (plan.throughFactory) {
        USB3KFactory factory;
        for (std::size_t i = 0; i < factory.size(); ++i) {
            exercise(*factory.at(i), plan);
        }
    } else {
        USB3K device(SERIAL_NUMBER);
        exercise(device, plan);
    }
    // Every handle opened was closed, once: a second close would have stopped the run already.
    FUZZ_CHECK(fake_d2xx::openHandleCount() == 0);
    return 0;
}
