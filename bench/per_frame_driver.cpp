// The program bench/count-per-frame runs under callgrind: a ready device at rate table 34 on the
// emulator with its transcript off, a warm-up decode, then calls of the bridge's decode entry
// point over the number of frames given (in one call, or in calls of the size given), with a JNI
// environment of our own standing in for the JVM. The script counts only what runs inside that
// entry point, inside the D2XX functions and inside the JNI environment's array copies; the setup
// and the warm-up cost the same for every frame count, so they drop out of the difference between
// two runs.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/vcw_frames.h"
#include "bridge/bridge_decode.h"
#include "bridge/bridge_lifecycle.h"
#include "bridge/bridge_state.h"
#include "decoders/chunk_decode.h"
#include "device/frame_packing.h"
#include "packet/packet_constants.h"
#include "sim/usb3k_sim.h"
#include "tests/fake_jni_env.h"

namespace {

// Enough frames for every buffer of the library and the emulator to reach its working size, the
// decode buffers a whole chunk: the same for every run, so that the frames counted never pay for
// any growth.
constexpr std::size_t WARM_UP_FRAMES = DECODE_CHUNK_FRAMES;

bool parseFrameCount(const char* text, std::size_t& frames) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end == text || *end != '\0' || value == 0) {
        return false;
    }
    frames = static_cast<std::size_t>(value);
    return true;
}

jbyteArray javaArray(FakeJniEnv& jni, const std::vector<uint8_t>& bytes) {
    return jni.newByteArray(std::vector<jbyte>(bytes.begin(), bytes.end()));
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t frames = 0;
    std::size_t perCall = 0;
    if (argc < 2 || argc > 3 || !parseFrameCount(argv[1], frames) ||
        (argc == 3 && !parseFrameCount(argv[2], perCall))) {
        std::fprintf(stderr, "usage: %s FRAMES [FRAMES_PER_CALL] (positive numbers)\n", argv[0]);
        return 2;
    }
    if (perCall == 0 || perCall > frames) {
        perCall = frames;
    }
    sim_reset();
    sim_record_transcript(0);
    BridgeState state;
    if (!initializeDevice(state)) {
        std::fprintf(stderr, "error: the emulated device did not get ready\n");
        return 1;
    }

    FakeJniEnv jni;
    const std::size_t warmUp = WARM_UP_FRAMES;
    const std::vector<uint8_t> vcw = pseudoRandomFrames(frames);
    jbyteArray warmUpInput = javaArray(jni, pseudoRandomFrames(warmUp));
    // Each call decodes its whole input array, so every call has one of its own, made before.
    std::vector<jbyteArray> inputs;
    for (std::size_t start = 0; start < frames; start += perCall) {
        const std::size_t end = start + perCall < frames ? start + perCall : frames;
        inputs.push_back(javaArray(jni, std::vector<uint8_t>(vcw.begin() + start * VCW_FRAME_SIZE,
                                                             vcw.begin() + end * VCW_FRAME_SIZE)));
    }
    const std::size_t pcmFrames = std::max(perCall, warmUp);
    jbyteArray pcm = javaArray(jni, std::vector<uint8_t>(pcmFrames * SPEECH_BLOCK_SIZE));
    decodeIntoJava(jni.env(), state, warmUpInput, 0, pcm, 0);
    for (jbyteArray input : inputs) {
        decodeIntoJava(jni.env(), state, input, 0, pcm, 0);
    }
    if (sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL) !=
            static_cast<int>(warmUp + frames) ||
        !jni.faults().empty()) {
        std::fprintf(stderr, "error: a frame was not decoded\n");
        return 1;
    }
    shutdownDevices(state);
    return 0;
}
