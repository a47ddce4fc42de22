// The bridge's decode entry point over the emulator, called with a JNI environment of our own:
// a long call's native memory stays within one chunk, calls allocate nothing once their buffers
// have grown (the bridge's and a decoder's), and a call whose frame k fails writes every block
// before k and nothing from k on, on both sides of a chunk boundary.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "bridge/bridge_decode.h"
#include "bridge/bridge_lifecycle.h"
#include "bridge/bridge_state.h"
#include "bridge/java_arrays.h"
#include "decoders/chunk_decode.h"
#include "decoders/decoder_handles.h"
#include "device/frame_packing.h"
#include "sim_test_support.h"
#include "tests/fake_jni_env.h"
#include "tests/heap_tracker.h"
#include "tests/java_speech.h"

namespace {

constexpr jbyte UNTOUCHED = 0x5A;
constexpr std::size_t BLOCK = 320;

class BridgeDecode : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        sim_record_transcript(0);
        ASSERT_TRUE(initializeDevice(state));
    }
    void TearDown() override {
        shutdownDevices(state);
        EXPECT_TRUE(jni.faults().empty()) << testing::PrintToString(jni.faults());
    }

    // Decodes the frames into a fresh output array filled with UNTOUCHED; returns its contents.
    std::vector<jbyte> decode(const std::vector<uint8_t>& frames) {
        jbyteArray vcw = jni.newByteArray(asJava(frames));
        jbyteArray pcm =
            jni.newByteArray(std::vector<jbyte>(frames.size() / VCW_FRAME_SIZE * BLOCK, UNTOUCHED));
        decodeIntoJava(jni.env(), state, vcw, 0, pcm, 0);
        return jni.contents(pcm);
    }

    // The allocations while `calls` calls decode the same `frames` frames, the arrays made and
    // room for the JNI environment's records taken before; every frame must go out.
    template <typename Decode>
    std::size_t allocationsOf(std::size_t calls, std::size_t frames, Decode decodeCall) {
        jbyteArray vcw = jni.newByteArray(asJava(testFrames(frames, 5)));
        jbyteArray pcm = jni.newByteArray(std::vector<jbyte>(frames * BLOCK));
        jni.reserveCalls(8 * calls);
        const int sent = sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL);
        resetHeapPeak();
        for (std::size_t call = 0; call < calls; ++call) {
            decodeCall(vcw, pcm, static_cast<jint>(frames));
        }
        const std::size_t allocations = heapUse().allocations;
        EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL) - sent,
                  static_cast<int>(calls * frames));
        return allocations;
    }

    BridgeState state;
    FakeJniEnv jni;
};

TEST_F(BridgeDecode, ALongCallNeedsNoMoreNativeMemoryThanOneChunk) {
    const std::vector<uint8_t> frames = testFrames(100000, 3);
    jbyteArray vcw = jni.newByteArray(asJava(frames));
    jbyteArray pcm = jni.newByteArray(std::vector<jbyte>(100000 * BLOCK, UNTOUCHED));

    resetHeapPeak();
    const std::size_t before = heapUse().now;
    decodeIntoJava(jni.env(), state, vcw, 0, pcm, 0);
    const std::size_t extra = heapUse().peak - before;

    EXPECT_EQ(jni.contents(pcm), javaSpeechFor(frames));
    // One chunk's input and speech, and what the emulator holds for one exchange: far below the
    // 32 MB that the whole call's speech would take.
    EXPECT_LT(extra, std::size_t{1} << 20) << extra << " bytes";
    EXPECT_GT(extra, DECODE_CHUNK_FRAMES * BLOCK);
    // The input is read in chunks, never pinned.
    EXPECT_EQ(jni.callCount("GetByteArrayElements"), 0);
    EXPECT_EQ(jni.callCount("GetByteArrayRegion"),
              static_cast<int>((100000 + DECODE_CHUNK_FRAMES - 1) / DECODE_CHUNK_FRAMES));
}

TEST_F(BridgeDecode, CallsAllocateNothingOnceTheirBuffersHaveGrown) {
    // The emulator allocates the same for every frame it answers: ten calls of 50 frames allocate
    // what one call of 500 does only when a call itself allocates nothing. The first call of 500
    // lets the buffers grow.
    const auto bridge = [&](jbyteArray vcw, jbyteArray pcm, jint) {
        decodeIntoJava(jni.env(), state, vcw, 0, pcm, 0);
    };
    allocationsOf(1, 500, bridge);
    EXPECT_EQ(allocationsOf(10, 50, bridge), allocationsOf(1, 500, bridge));

    shutdownDevices(state);
    int64_t handle = 0;
    std::string opened;
    ASSERT_EQ(openDecoder(nullptr, handle, opened).failure, HandleFailure::None);
    int32_t decoded = 0;
    const auto decoder = [&](jbyteArray vcw, jbyteArray pcm, jint frames) {
        decodeOnHandle(jni.env(), handle, vcw, 0, frames, pcm, 0, decoded);
    };
    allocationsOf(1, 500, decoder);
    EXPECT_EQ(allocationsOf(10, 50, decoder), allocationsOf(1, 500, decoder));
    closeDecoder(handle);
}

class BridgeDecodeFailingFrame : public BridgeDecode,
                                 public testing::WithParamInterface<std::size_t> {};

TEST_P(BridgeDecodeFailingFrame, WritesEveryBlockBeforeItAndNoneFromItOn) {
    const std::size_t failing = GetParam();
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, static_cast<int>(failing) + 1,
                     SIM_ANSWER_NONE, 0);
    const std::vector<uint8_t> frames = testFrames(2 * DECODE_CHUNK_FRAMES + 5, 4);
    std::vector<jbyte> pcm;
    testing::internal::CaptureStderr();
    pcm = decode(frames);
    testing::internal::GetCapturedStderr();

    const std::vector<jbyte> speech = javaSpeechFor(frames);
    const auto firstUnwritten = pcm.begin() + static_cast<std::ptrdiff_t>(failing * BLOCK);
    EXPECT_TRUE(std::equal(pcm.begin(), firstUnwritten, speech.begin()));
    EXPECT_TRUE(std::all_of(firstUnwritten, pcm.end(), [](jbyte b) { return b == UNTOUCHED; }));
    // Nothing after the failed frame was sent.
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL),
              static_cast<int>(failing) + 1);
}

INSTANTIATE_TEST_SUITE_P(AroundAChunkBoundary, BridgeDecodeFailingFrame,
                         testing::Values(0, DECODE_CHUNK_FRAMES - 1, DECODE_CHUNK_FRAMES,
                                         DECODE_CHUNK_FRAMES + 1, 2 * DECODE_CHUNK_FRAMES + 4));

}  // namespace
