// The program bench/count-per-frame runs under callgrind: a ready device at rate table 34 on the
// emulator with its transcript off, a warm-up decode, then one USB3K::decodeFrames call over the
// number of frames given. The script counts only what runs inside decodeFrames and inside the
// D2XX functions; the setup and the warm-up cost the same for every frame count, so they drop out
// of the difference between two runs.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/vcw_frames.h"
#include "device/usb3k.h"
#include "packet/packet_constants.h"
#include "sim/usb3k_sim.h"

namespace {

// Enough frames for every buffer of the library and the emulator to reach its working size.
constexpr std::size_t WARM_UP_FRAMES = 100;

bool parseFrameCount(const char* text, std::size_t& frames) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || value == 0) {
        return false;
    }
    frames = static_cast<std::size_t>(value);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t frames = 0;
    if (argc != 2 || !parseFrameCount(argv[1], frames)) {
        std::fprintf(stderr, "usage: %s FRAMES (a positive number)\n", argv[0]);
        return 2;
    }
    sim_reset();
    sim_record_transcript(0);
    USB3K device(SIM_DEFAULT_SERIAL);
    if (!device.ready || device.reset() != 0 || device.stopCodec() != 0 || device.setRate() != 0) {
        std::fprintf(stderr, "error: the emulated device did not get ready\n");
        return 1;
    }

    const std::vector<uint8_t> vcw = pseudoRandomFrames(frames);
    std::vector<uint8_t> speech(frames * SPEECH_BLOCK_SIZE);
    const std::size_t warmUp = frames < WARM_UP_FRAMES ? frames : WARM_UP_FRAMES;
    if (device.decodeFrames(vcw.data(), warmUp, speech.data()) != warmUp ||
        device.decodeFrames(vcw.data(), frames, speech.data()) != frames) {
        std::fprintf(stderr, "error: a frame was not decoded\n");
        return 1;
    }
    return 0;
}
