// The server's concealing stream over the emulator, with faults at known frames: a glitch costs
// one frame, a hung device is reset once and given up after a second without speech, an unplugged
// device is awaited up to the reconnect time-out.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "decoders/concealing_stream.h"
#include "sim_test_support.h"

namespace {

using Lines = std::vector<std::string>;

const std::string NO_HEADER =
    "USB3K::receivePacket - failed to read packet header: wanted 4, got 0";

struct Heard final : StreamListener {
    void frameConcealed(uint64_t frame, const Lines& lines) override {
        events.push_back("silence " + std::to_string(frame));
        concealedLines.push_back(lines);
    }
    void deviceAway(const std::string& serial, uint64_t frame) override {
        events.push_back("away " + serial + " " + std::to_string(frame));
        onAway();
    }
    void deviceBack(const std::string& serial, uint64_t frame) override {
        events.push_back("back " + serial + " " + std::to_string(frame));
    }
    Lines events;
    std::vector<Lines> concealedLines;
    std::function<void()> onAway = [] {};
};

// The speech of the frames as the stream gives it, samples little-endian, with silence for the
// frames in [from, to).
std::vector<uint8_t> expectedSpeech(const std::vector<uint8_t>& vcw, std::size_t from = 0,
                                    std::size_t to = 0) {
    std::vector<uint8_t> speech = speechForFrames(vcw);
    for (std::size_t i = 0; i + 1 < speech.size(); i += 2) {
        std::swap(speech[i], speech[i + 1]);
    }
    std::fill(speech.begin() + from * 320, speech.begin() + to * 320, 0);
    return speech;
}

class ConcealingStreamTest : public SimTest {
  protected:
    void open(std::chrono::milliseconds reconnectTimeout = std::chrono::seconds(10)) {
        sim_record_transcript(0);
        std::string opened;
        ASSERT_EQ(openDecoder(nullptr, handle_, opened).failure, HandleFailure::None);
        stream_ = std::make_unique<ConcealingStream>(handle_, opened, reconnectTimeout);
    }
    void TearDown() override { closeDecoder(handle_); }
    // Decodes the frames of vcw, its standard error lines in `lines`.
    StreamOutcome decode(const std::vector<uint8_t>& vcw, std::vector<uint8_t>& pcm, Lines& lines) {
        pcm.assign(vcw.size() / 7 * 320, 0xAA);
        StreamOutcome outcome;
        lines = stderrLinesOf(
            [&] { outcome = stream_->decode(vcw.data(), vcw.size() / 7, pcm.data(), heard_); });
        return outcome;
    }

    int64_t handle_ = 0;
    std::unique_ptr<ConcealingStream> stream_;
    Heard heard_;
};

TEST_F(ConcealingStreamTest, AGlitchCostsOneFrameWithTheLinesOfBothAttempts) {
    // Frame 100 fails once and is decoded when sent again (request 102); frame 200 fails twice.
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 101, SIM_ANSWER_NONE, 0);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 202, SIM_ANSWER_NONE, 0);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 203, SIM_ANSWER_WRONG_START, 0x7f);
    open();
    const std::vector<uint8_t> vcw = testFrames(300, 41);
    std::vector<uint8_t> pcm;
    Lines lines;
    const StreamOutcome outcome = decode(vcw, pcm, lines);
    EXPECT_EQ(outcome.frames, 300u);
    EXPECT_EQ(outcome.end, StreamEnd::None);
    EXPECT_EQ(pcm, expectedSpeech(vcw, 200, 201));
    EXPECT_EQ(heard_.events, Lines{"silence 200"});
    const Lines noAnswer{NO_HEADER, "USB3K::decode - did not receive speech response"};
    const Lines frame200{
        NO_HEADER, "USB3K::decode - did not receive speech response",
        "USB3K::receivePacket - first byte not a packet header: wanted 0x61, got 7f",
        "USB3K::decode - did not receive speech response"};
    EXPECT_EQ(heard_.concealedLines, std::vector<Lines>{frame200});
    Lines all = noAnswer;
    all.insert(all.end(), frame200.begin(), frame200.end());
    // The rest of frame 200's damaged answer is drained before frame 201 goes out.
    all.push_back("USB3K::sendPacket - discarded 324 bytes before the line went quiet");
    EXPECT_EQ(lines, all);
    EXPECT_EQ(stream_->framesConcealed(), 1u);
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL), 302);
}

TEST_F(ConcealingStreamTest, AHungDeviceIsResetOnceThenGivenUpAfterASecondWithoutSpeech) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 101, SIM_DEVICE_HANGS_UNTIL_RESET, 0);
    open();
    const std::vector<uint8_t> first = testFrames(200, 42);
    std::vector<uint8_t> pcm;
    Lines lines;
    StreamOutcome outcome = decode(first, pcm, lines);
    EXPECT_EQ(outcome.frames, 200u);
    EXPECT_EQ(outcome.end, StreamEnd::None);
    EXPECT_EQ(pcm, expectedSpeech(first, 100, 110));
    EXPECT_EQ(lines.back(),
              "Usb3kDecoder::decode - USB-3000 EMU30001 answered none of 10 frames: reset");
    EXPECT_EQ(heard_.events.size(), 10u);
    EXPECT_EQ(heard_.events.back(), "silence 109");

    // Hung for good: within 5 s of the reset, no second one; 50 frames of silence, then the end.
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 0, SIM_DEVICE_HANGS, 0);
    heard_.events.clear();
    const std::vector<uint8_t> second = testFrames(100, 43);
    outcome = decode(second, pcm, lines);
    EXPECT_EQ(outcome.frames, 50u);
    EXPECT_EQ(outcome.end, StreamEnd::NotResponding);
    EXPECT_EQ(outcome.message,
              "USB-3000 EMU30001 decoded none of frames 201 to 250 of the VCW stream: it is still "
              "attached but answers nothing usable");
    EXPECT_EQ(outcome.fix,
              "check the device's power, unplug it and plug it in again, then try again");
    EXPECT_EQ(outcome.lines.back(), "USB3K::decode - cannot send channel request");
    EXPECT_EQ(std::count_if(
                  lines.begin(), lines.end(),
                  [](const std::string& line) { return line.find("reset") != std::string::npos; }),
              0);
    EXPECT_EQ(heard_.events.size(), 50u);
    EXPECT_EQ(heard_.events.front(), "silence 200");
    EXPECT_EQ(std::vector<uint8_t>(pcm.begin(), pcm.begin() + 50 * 320),
              std::vector<uint8_t>(50 * 320, 0));
    EXPECT_EQ(stream_->framesConcealed(), 60u);
}

// Unplugged as frame 50 goes out; D2XX refuses the first 3 opens after it is back.
void unplugAtFrame50() {
    sim_set_removed_handle_status(4);
    sim_refuse_opens_after_replug(SIM_DEFAULT_SERIAL, 3, 2);
    sim_needs_reset_after_replug(SIM_DEFAULT_SERIAL, 1);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 51, SIM_DEVICE_UNPLUGGED, 0);
}

TEST_F(ConcealingStreamTest, AnUnpluggedDeviceIsAwaitedAndEveryFrameIsItsOwnSpeech) {
    unplugAtFrame50();
    open();
    heard_.onAway = [] {
        sim_clear_faults();
        sim_replug_at_list_call(SIM_DEFAULT_SERIAL, 2);
    };
    const std::vector<uint8_t> vcw = testFrames(100, 44);
    std::vector<uint8_t> pcm;
    Lines lines;
    const StreamOutcome outcome = decode(vcw, pcm, lines);
    EXPECT_EQ(outcome.frames, 100u);
    EXPECT_EQ(outcome.end, StreamEnd::None);
    EXPECT_EQ(heard_.events, (Lines{"away EMU30001 50", "back EMU30001 50"}));
    EXPECT_EQ(pcm, expectedSpeech(vcw));
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.find("failed: 2") != std::string::npos;
                            }),
              3);
    EXPECT_EQ(lines.back(), "Usb3kDecoder::decode - USB-3000 EMU30001 is attached again and ready");
    EXPECT_EQ(stream_->framesConcealed(), 0u);
}

TEST_F(ConcealingStreamTest, ADeviceUnpluggedWhileAFailedFrameIsSentAgainIsAwaitedToo) {
    sim_set_removed_handle_status(4);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 51, SIM_ANSWER_NONE, 0);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 52, SIM_DEVICE_UNPLUGGED, 0);
    open();
    heard_.onAway = [] {
        sim_clear_faults();
        sim_replug_at_list_call(SIM_DEFAULT_SERIAL, 2);
    };
    const std::vector<uint8_t> vcw = testFrames(100, 46);
    std::vector<uint8_t> pcm;
    Lines lines;
    const StreamOutcome outcome = decode(vcw, pcm, lines);
    EXPECT_EQ(outcome.end, StreamEnd::None) << outcome.message;
    EXPECT_EQ(outcome.frames, 100u);
    EXPECT_EQ(heard_.events, (Lines{"away EMU30001 50", "back EMU30001 50"}));
    EXPECT_EQ(pcm, expectedSpeech(vcw));
    EXPECT_EQ(stream_->framesConcealed(), 0u);
}

TEST_F(ConcealingStreamTest, PastTheReconnectTimeOutTheStreamEndsBeforeTheLostFrame) {
    unplugAtFrame50();
    open(std::chrono::milliseconds(300));
    const std::vector<uint8_t> vcw = testFrames(100, 45);
    std::vector<uint8_t> pcm;
    Lines lines;
    const auto start = std::chrono::steady_clock::now();
    const StreamOutcome outcome = decode(vcw, pcm, lines);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ(outcome.frames, 50u);
    EXPECT_EQ(outcome.end, StreamEnd::DeviceGone);
    EXPECT_EQ(outcome.message,
              "USB-3000 EMU30001 was not attached again within 300 ms (check its cable and its USB "
              "hub): frame 51 of the VCW stream not decoded");
    EXPECT_EQ(outcome.fix, "plug the device in again (check its cable), then try again");
    // While it waits the stream only reads D2XX's list, which writes no line.
    EXPECT_EQ(lines.back(), "Usb3kDecoder::decode - USB-3000 EMU30001 is no longer attached");
    EXPECT_EQ(outcome.lines, lines);
    EXPECT_EQ(heard_.events, Lines{"away EMU30001 50"});
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.begin() + 50 * 320, expectedSpeech(vcw).begin()));

    // A cancelled stream ends at once, before any exchange.
    stream_->cancel();
    const StreamOutcome cancelled = decode(vcw, pcm, lines);
    EXPECT_EQ(cancelled.end, StreamEnd::Cancelled);
    EXPECT_EQ(cancelled.frames, 0u);
    EXPECT_EQ(cancelled.message, "cancelled after 50 frames of the VCW stream");
}

}  // namespace
