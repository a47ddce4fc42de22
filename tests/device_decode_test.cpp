// Frame decoding over the emulator: the channel requests on the wire in both layouts, the speech
// the device answers for each frame, long inputs, every failure row, and the link recovering
// after a glitch.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "bytes.h"
#include "device/usb3k.h"
#include "ready_device_test.h"
#include "sim_test_support.h"

namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

// Identification and the rate table made 3 writes before the first frame.
constexpr int WRITES_BEFORE_DECODE = 3;

const char* const NO_HEADER =
    "USB3K::receivePacket - failed to read packet header: wanted 4, got 0";
const char* const NOT_RECEIVED = "USB3K::decode - did not receive speech response";

// A ready device, at rate table 34 unless a test asks for the plain layout, and an empty
// transcript.
class DeviceDecode : public ReadyDeviceTest {
  protected:
    void prepare() override { ASSERT_EQ(device->setRate(), 0); }

    // Decodes with standard error captured; returns the lines and leaves the result in `speech`.
    Lines decode(const Bytes& vcw) {
        return stderrLinesOf([&] { speech = device->decode(vcw); });
    }

    Bytes speech;
};

// Rate table 34 never confirmed: frames go out in the plain layout.
class DeviceDecodePlain : public DeviceDecode {
  protected:
    void prepare() override {}
};

TEST_F(DeviceDecode, Rate34FramesGoOutInterleaved) {
    const Bytes vcw = hexBytes("00 00 00 00 00 00 00 01 23 45 67 89 ab cd ff ff ff ff ff ff ff");
    EXPECT_EQ(decode(vcw), Lines{});
    EXPECT_EQ(speech, speechForFrames(vcw));
    EXPECT_EQ(transcriptLinesWith("FT_Write"),
              (Lines{"EMU30001 FT_Write(15: 61 00 0b 01 01 31 00 00 00 00 00 00 00 2f 15) -> 0 "
                     "written=15",
                     "EMU30001 FT_Write(15: 61 00 0b 01 01 31 cc 56 de 86 a2 6c 80 2f 99) -> 0 "
                     "written=15",
                     "EMU30001 FT_Write(15: 61 00 0b 01 01 31 ff ff ff ff ff ff 80 2f 95) -> 0 "
                     "written=15"}));
    // One write and two reads per frame (the 4-byte header, then the 324 bytes it announces) and
    // the check that nothing follows the answer; the call starts by checking that nothing waits.
    EXPECT_EQ(callNamesFrom(""),
              (Lines{"FT_GetQueueStatus", "FT_Write", "FT_Read", "FT_Read", "FT_GetQueueStatus",
                     "FT_Write", "FT_Read", "FT_Read", "FT_GetQueueStatus", "FT_Write", "FT_Read",
                     "FT_Read", "FT_GetQueueStatus"}));
    EXPECT_EQ(transcriptLinesWith("FT_Read(324)").size(), 3u);
}

TEST_F(DeviceDecodePlain, FramesGoOutInThePlainLayoutWithoutRateTable34) {
    const Bytes vcw = hexBytes("01 23 45 67 89 ab cd 01 00 00 00 00 00 00");
    EXPECT_EQ(decode(vcw), Lines{});
    EXPECT_EQ(speech, speechForFrames(vcw));
    EXPECT_EQ(transcriptLinesWith("FT_Write"),
              (Lines{"EMU30001 FT_Write(15: 61 00 0b 01 01 91 a2 b3 c4 d5 e6 80 00 2f d3) -> 0 "
                     "written=15",
                     "EMU30001 FT_Write(15: 61 00 0b 01 01 80 00 00 00 00 00 00 00 2f a4) -> 0 "
                     "written=15"}));
}

TEST_F(DeviceDecodePlain, ARefusedRateTableKeepsThePlainLayout) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_RATE, 1, SIM_ANSWER_STATUS, 1);
    ASSERT_EQ(device->setRate(), 1);
    const Bytes vcw = testFrames(20, 3);
    EXPECT_EQ(decode(vcw), Lines{});
    EXPECT_EQ(speech, speechForFrames(vcw));
}

TEST_F(DeviceDecode, EveryFrameGetsItsOwnSpeech) {
    const Bytes vcw = testFrames(300, 1);
    EXPECT_EQ(decode(vcw), Lines{});
    EXPECT_EQ(speech, speechForFrames(vcw));
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL), 300);
}

TEST_F(DeviceDecodePlain, EveryFrameGetsItsOwnSpeech) {
    const Bytes vcw = testFrames(300, 2);
    EXPECT_EQ(decode(vcw), Lines{});
    EXPECT_EQ(speech, speechForFrames(vcw));
}

TEST_F(DeviceDecode, BytesAfterTheLastWholeFrameAreIgnored) {
    const Bytes frames = testFrames(3, 4);
    for (std::size_t size : {14u, 15u, 20u}) {
        const Bytes vcw(frames.begin(), frames.begin() + static_cast<long>(size));
        EXPECT_EQ(decode(vcw), Lines{});
        EXPECT_EQ(speech.size(), 640u) << size;
        EXPECT_EQ(speech, speechForFrames(vcw)) << size;
    }
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL), 6);
}

TEST_F(DeviceDecode, FewerThanSevenBytesHoldNoFrame) {
    for (std::size_t size : {0u, 1u, 6u}) {
        EXPECT_EQ(decode(Bytes(size, 0x55)), Lines{"USB3K::decode - no VCW frames to decode"});
        EXPECT_EQ(speech, Bytes{});
    }
    EXPECT_EQ(transcriptLines(), Lines{});
}

TEST(DeviceDecodeNotReady, DecodesNothingSilently) {
    sim_reset();
    std::unique_ptr<USB3K> device;
    stderrLinesOf([&] { device = std::make_unique<USB3K>("NOPE"); });
    sim_clear_transcript();
    Bytes speech{1};
    EXPECT_EQ(stderrLinesOf([&] { speech = device->decode(testFrames(2, 5)); }), Lines{});
    EXPECT_EQ(speech, Bytes{});
    EXPECT_EQ(stderrLinesOf([&] { speech = device->decode({}); }), Lines{});
    EXPECT_EQ(transcriptLines(), Lines{});
}

// Frame counts that no longer fit 15 bits decode completely.
class DeviceDecodeLong : public DeviceDecode, public testing::WithParamInterface<std::size_t> {};

TEST_P(DeviceDecodeLong, DecodesEveryFrame) {
    sim_record_transcript(0);
    const std::size_t frames = GetParam();
    const Bytes vcw = testFrames(frames, 6);
    EXPECT_EQ(decode(vcw), Lines{});
    EXPECT_EQ(speech.size(), frames * 320);
    EXPECT_TRUE(speech == speechForFrames(vcw));
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL), static_cast<int>(frames));
}

INSTANTIATE_TEST_SUITE_P(Frames, DeviceDecodeLong, testing::Values(32768u, 65537u));

// A failure on one frame of a four-frame decode: how it is caused, the lines, and how many frames'
// speech the result keeps.
struct FrameFailure {
    const char* name;
    std::function<void()> cause;
    Lines lines;
    std::size_t framesKept;
    // What the decode after it writes while it brings the link back in step.
    Lines linesOfTheNextDecode = {};
};

void PrintTo(const FrameFailure& failure, std::ostream* out) {
    *out << failure.name;
}

class DeviceDecodeFailure : public DeviceDecode,
                            public testing::WithParamInterface<FrameFailure> {};

TEST_P(DeviceDecodeFailure, StopsWithTheSpeechOfTheEarlierFrames) {
    GetParam().cause();
    const Bytes vcw = testFrames(4, 7);
    EXPECT_EQ(decode(vcw), GetParam().lines);
    const Bytes kept(vcw.begin(), vcw.begin() + 7 * GetParam().framesKept);
    EXPECT_EQ(speech, speechForFrames(kept));
    // Nothing is sent after the failing frame.
    EXPECT_EQ(transcriptLinesWith("FT_Write").size(), GetParam().framesKept + 1);
}

void answerSecondFrameWith(const char* hex) {
    const Bytes answer = hexBytes(hex);
    sim_answer_raw(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 2, answer.data(), answer.size());
}

INSTANTIATE_TEST_SUITE_P(
    EveryFailure, DeviceDecodeFailure,
    testing::Values(
        FrameFailure{"SecondFrameNotSent",
                     [] {
                         sim_fail_call(SIM_DEFAULT_SERIAL, "FT_Write", FT_IO_ERROR,
                                       WRITES_BEFORE_DECODE + 2);
                     },
                     {"USB3K::sendPacket - FT_Write failed: 4",
                      "USB3K::decode - cannot send channel request"},
                     1},
        FrameFailure{
            "SecondFrameUnanswered",
            [] { sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 2, SIM_ANSWER_NONE, 0); },
            {NO_HEADER, NOT_RECEIVED},
            1},
        FrameFailure{
            "FirstFrameUnanswered",
            [] { sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 1, SIM_ANSWER_NONE, 0); },
            {NO_HEADER, NOT_RECEIVED},
            0},
        FrameFailure{
            "ThirdFrameAnswerCut",
            [] { sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 3, SIM_ANSWER_SHORT, 100); },
            {"USB3K::receivePacket - failed to read packet header: wanted 324, got 96",
             NOT_RECEIVED},
            2},
        FrameFailure{
            "SecondFrameAnswerOversized",
            [] {
                sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 2, SIM_ANSWER_OVERSIZED,
                                 1000);
            },
            {"USB3K::receivePacket - packet too long: wanted at most 508, got 1000", NOT_RECEIVED},
            1},
        FrameFailure{"SecondFrameWithoutSpeech",
                     [] {
                         sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 2,
                                          SIM_ANSWER_MISSING_FIELD, 0);
                     },
                     {"USB3K::decode - no speech field in response"},
                     1},
        // A sample changed on the line: the parity byte shows it, and the block is not delivered.
        FrameFailure{"SecondFrameSpeechChangedOnTheLine",
                     [] {
                         sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 2,
                                          SIM_ANSWER_BIT_FLIP, 100 * 8 + 3);
                     },
                     {"USB3K::receivePacket - parity mismatch: wanted 60, got 68", NOT_RECEIVED},
                     1},
        FrameFailure{"SecondFrameWithTooLittleSpeech",
                     [] { answerSecondFrameWith("61 00 0a 02 00 a0 12 34 56 78 9a bc 2f a9"); },
                     {"USB3K::decode - no speech field in response"},
                     1}),
    [](const testing::TestParamInfo<FrameFailure>& info) { return info.param.name; });

// A glitch on the first frame of one decode: the next decode discards what the glitch left in
// the link and every one of its frames gets its own speech, not the one before it.
class DeviceDecodeGlitch : public DeviceDecode, public testing::WithParamInterface<FrameFailure> {};

TEST_P(DeviceDecodeGlitch, TheNextDecodeStartsClean) {
    GetParam().cause();
    EXPECT_EQ(decode(testFrames(3, 8)), GetParam().lines);
    EXPECT_EQ(speech, Bytes{});

    sim_clear_transcript();
    const Bytes vcw = testFrames(3, 9);
    EXPECT_EQ(decode(vcw), GetParam().linesOfTheNextDecode);
    EXPECT_EQ(speech, speechForFrames(vcw));
    // The link is brought back in step with a product ID exchange before the first frame.
    EXPECT_EQ(transcriptLinesWith("FT_Purge"), Lines{"EMU30001 FT_Purge(1) -> 0"});
    EXPECT_EQ(transcriptLinesWith("FT_Write")[0],
              "EMU30001 FT_Write(7: 61 00 03 00 30 2f 1c) -> 0 written=7");
    EXPECT_EQ(callNamesFrom("FT_Write(15"),
              (Lines{"FT_Write", "FT_Read", "FT_Read", "FT_GetQueueStatus", "FT_Write", "FT_Read",
                     "FT_Read", "FT_GetQueueStatus", "FT_Write", "FT_Read", "FT_Read",
                     "FT_GetQueueStatus"}));
}

INSTANTIATE_TEST_SUITE_P(
    WrongStartAndLateAnswer, DeviceDecodeGlitch,
    testing::Values(
        FrameFailure{"WrongStartByte",
                     [] {
                         sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 1,
                                          SIM_ANSWER_WRONG_START, 0x7F);
                     },
                     {"USB3K::receivePacket - first byte not a packet header: wanted 0x61, got 7f",
                      NOT_RECEIVED},
                     0,
                     {"USB3K::sendPacket - discarded 324 bytes before the line went quiet"}},
        FrameFailure{
            "LateAnswer",
            [] { sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 1, SIM_ANSWER_LATE, 1); },
            {NO_HEADER, NOT_RECEIVED},
            0,
            {"USB3K::sendPacket - discarded 328 bytes before the line went quiet"}}),
    [](const testing::TestParamInfo<FrameFailure>& info) { return info.param.name; });

TEST_F(DeviceDecode, SpeechIsAppendedInTheDevicesByteOrder) {
    Bytes answer = hexBytes("61 01 44 02 00 a0");
    for (int i = 0; i < 160; ++i) {
        answer.push_back(0x12);
        answer.push_back(0x34);
    }
    answer.push_back(0x2F);
    uint8_t parity = 0;
    for (std::size_t i = 1; i < answer.size(); ++i) {
        parity ^= answer[i];
    }
    answer.push_back(parity);
    sim_answer_raw(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 1, answer.data(), answer.size());
    EXPECT_EQ(decode(testFrames(1, 10)), Lines{});
    ASSERT_EQ(speech.size(), 320u);
    EXPECT_EQ(speech[0], 0x12);
    EXPECT_EQ(speech[1], 0x34);
    EXPECT_EQ(speech, Bytes(answer.begin() + 6, answer.begin() + 326));
}

}  // namespace
