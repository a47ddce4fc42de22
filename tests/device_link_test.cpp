// The device link over the emulator: opening, configuring and identifying a USB-3000, and the
// exchange of one request and one response, with every failure the link reports.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "bytes.h"
#include "device/usb3k.h"
#include "packet/packet_constants.h"
#include "sim_test_support.h"

namespace {

using Lines = std::vector<std::string>;

const Lines OPEN_AND_CONFIGURE = {
    "FT_OpenEx(EMU30001, 1) -> 0",
    "EMU30001 FT_SetDataCharacteristics(8, 0, 0) -> 0",
    "EMU30001 FT_SetFlowControl(256, 17, 19) -> 0",
    "EMU30001 FT_ClrRts() -> 0",
    "EMU30001 FT_SetBaudRate(460800) -> 0",
    "EMU30001 FT_SetLatencyTimer(4) -> 0",
    "EMU30001 FT_SetUSBParameters(1024, 0) -> 0",
    "EMU30001 FT_SetTimeouts(200, 100) -> 0",
};

// The identification requests write 2 packets and read 4 times; later faults count from there.
constexpr int IDENTIFICATION_WRITES = 2;
constexpr int IDENTIFICATION_READS = 4;

const char* const NO_HEADER =
    "USB3K::receivePacket - failed to read packet header: wanted 4, got 0";

// A reset request: any request does, and the emulator answers this one with a short packet.
std::unique_ptr<RequestPacket> resetRequest() {
    auto request = std::make_unique<RequestPacket>(PACKET_CONTROL, true);
    request->addField(std::make_unique<PacketField>(FIELD_RESET, nullptr, 0));
    return request;
}

class DeviceLink : public SimTest {
  protected:
    // Constructs the device with standard error captured; returns what it wrote.
    Lines construct(const char* serial = SIM_DEFAULT_SERIAL) {
        return stderrLinesOf([&] { device = std::make_unique<USB3K>(serial); });
    }

    // A ready device and an empty transcript, for exchanges of the test's own.
    void constructReady() {
        ASSERT_EQ(construct(), Lines{});
        ASSERT_TRUE(device->ready);
        sim_clear_transcript();
    }

    std::unique_ptr<USB3K> device;
};

TEST_F(DeviceLink, OpensConfiguresAndIdentifiesTheDevice) {
    EXPECT_EQ(construct(), Lines{});
    EXPECT_TRUE(device->ready);
    EXPECT_EQ(device->serialNumber, SIM_DEFAULT_SERIAL);
    EXPECT_EQ(device->productId, SIM_PRODUCT_ID_TEXT);
    EXPECT_EQ(device->version, SIM_VERSION_TEXT);
    EXPECT_EQ(device->rate, 0);
    EXPECT_EQ(sim_open_handles(), 1);

    Lines expected = OPEN_AND_CONFIGURE;
    // Nothing may wait before the first request, and each answer must stand alone.
    const Lines identification = {
        "EMU30001 FT_GetQueueStatus() -> 0 queued=0",
        "EMU30001 FT_Write(7: 61 00 03 00 30 2f 1c) -> 0 written=7",
        "EMU30001 FT_Read(4) -> 0 got=4: 61 00 0c 00",
        "EMU30001 FT_Read(12) -> 0 got=12: 30 55 53 42 2d 33 30 30 30 00 2f 79",
        "EMU30001 FT_GetQueueStatus() -> 0 queued=0",
        "EMU30001 FT_Write(7: 61 00 03 00 31 2f 1d) -> 0 written=7",
        "EMU30001 FT_Read(4) -> 0 got=4: 61 00 0d 00",
        "EMU30001 FT_Read(13) -> 0 got=13: 31 32 2e 37 2e 31 2d 65 6d 75 00 2f 77",
        "EMU30001 FT_GetQueueStatus() -> 0 queued=0",
    };
    expected.insert(expected.end(), identification.begin(), identification.end());
    EXPECT_EQ(transcriptLines(), expected);

    device.reset();
    EXPECT_EQ(transcriptLines().back(), "EMU30001 FT_Close() -> 0");
    EXPECT_EQ(sim_open_handles(), 0);
}

TEST_F(DeviceLink, TheEnvironmentChoosesTheLatencyTimer) {
    putEnvironment("USB3K_LATENCY_TIMER_MS=1");
    EXPECT_EQ(construct(), Lines{});
    EXPECT_EQ(device->latencyTimer(), 1);
    EXPECT_EQ(transcriptLinesWith("FT_SetLatencyTimer"),
              Lines{"EMU30001 FT_SetLatencyTimer(1) -> 0"});

    // A value out of range is said and not used.
    putEnvironment("USB3K_LATENCY_TIMER_MS=17");
    sim_clear_transcript();
    device.reset();
    EXPECT_EQ(construct(), Lines{"USB3K::USB3K - USB3K_LATENCY_TIMER_MS is not a number from 1 "
                                 "to 16: 17"});
    EXPECT_EQ(transcriptLinesWith("FT_SetLatencyTimer"),
              Lines{"EMU30001 FT_SetLatencyTimer(4) -> 0"});
    putEnvironment("USB3K_LATENCY_TIMER_MS=");
}

TEST_F(DeviceLink, AnUnknownSerialNumberIsNotOpened) {
    EXPECT_EQ(construct("NOPE"), Lines{"USB3K::USB3K - FT_OpenEx failed: 2"});
    EXPECT_FALSE(device->ready);
    EXPECT_EQ(transcriptLines(), Lines{"FT_OpenEx(NOPE, 1) -> 2"});
    // The destructor closes no handle that D2XX did not give.
    device.reset();
    EXPECT_EQ(transcriptLines(), Lines{"FT_OpenEx(NOPE, 1) -> 2"});
}

TEST_F(DeviceLink, AFailingOpenReportsItsStatus) {
    sim_fail_call(SIM_DEFAULT_SERIAL, "FT_OpenEx", FT_INSUFFICIENT_RESOURCES, 1);
    EXPECT_EQ(construct(), Lines{"USB3K::USB3K - FT_OpenEx failed: 5"});
    EXPECT_FALSE(device->ready);
    EXPECT_EQ(transcriptLinesWith("FT_Set"), Lines{});
}

struct LinkSetting {
    const char* function;
    unsigned status;
};

void PrintTo(const LinkSetting& setting, std::ostream* out) {
    *out << setting.function;
}

class DeviceLinkSetting : public DeviceLink, public testing::WithParamInterface<LinkSetting> {};

TEST_P(DeviceLinkSetting, StopsConfiguringAtTheFirstFailure) {
    const LinkSetting setting = GetParam();
    sim_fail_call(SIM_DEFAULT_SERIAL, setting.function, setting.status, 1);
    EXPECT_EQ(construct(), Lines{std::string("USB3K::USB3K - ") + setting.function +
                                 " failed: " + std::to_string(setting.status)});
    EXPECT_FALSE(device->ready);

    // The settings up to the failing one, that one with its status, and nothing after it.
    Lines expected;
    for (const std::string& line : OPEN_AND_CONFIGURE) {
        const bool failing = line.find(setting.function) != std::string::npos;
        expected.push_back(
            failing ? line.substr(0, line.size() - 1) + std::to_string(setting.status) : line);
        if (failing) {
            break;
        }
    }
    EXPECT_EQ(transcriptLines(), expected);
    // The handle stays open until the destructor closes it.
    EXPECT_EQ(sim_open_handles(), 1);
    device.reset();
    EXPECT_EQ(sim_open_handles(), 0);
}

INSTANTIATE_TEST_SUITE_P(EverySetting, DeviceLinkSetting,
                         testing::Values(LinkSetting{"FT_SetDataCharacteristics",
                                                     FT_INVALID_PARAMETER},
                                         LinkSetting{"FT_SetFlowControl", FT_IO_ERROR},
                                         LinkSetting{"FT_ClrRts", FT_OTHER_ERROR},
                                         LinkSetting{"FT_SetBaudRate", FT_INVALID_BAUD_RATE},
                                         LinkSetting{"FT_SetLatencyTimer", FT_NOT_SUPPORTED},
                                         LinkSetting{"FT_SetUSBParameters", FT_INVALID_ARGS},
                                         LinkSetting{"FT_SetTimeouts", 4000000000u}),
                         [](const testing::TestParamInfo<LinkSetting>& info) {
                             return std::string(info.param.function).substr(3);
                         });

TEST_F(DeviceLink, ProductIdRequestThatCannotBeSent) {
    sim_fail_call(SIM_DEFAULT_SERIAL, "FT_Write", FT_IO_ERROR, 1);
    EXPECT_EQ(construct(), (Lines{"USB3K::sendPacket - FT_Write failed: 4",
                                  "USB3K::USB3K - cannot send product ID request"}));
    EXPECT_FALSE(device->ready);
    EXPECT_EQ(transcriptLinesWith("FT_Read"), Lines{});
}

TEST_F(DeviceLink, ProductIdNeverAnswered) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 0, SIM_ANSWER_NONE, 0);
    EXPECT_EQ(
        construct(),
        (Lines{NO_HEADER, "USB3K::USB3K - did not receive product ID response (1st attempt)",
               NO_HEADER, "USB3K::USB3K - did not receive product ID response (2nd attempt)"}));
    EXPECT_FALSE(device->ready);
    EXPECT_EQ(device->productId, "");
    // The request is not sent again; the second attempt only reads.
    EXPECT_EQ(callNamesFrom("FT_Write"), (Lines{"FT_Write", "FT_Read", "FT_Read"}));
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_VERSION), 0);
    EXPECT_EQ(sim_open_handles(), 1);
}

TEST_F(DeviceLink, ProductIdAnsweredAfterTheFirstTimeout) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 1, SIM_ANSWER_LATE, 1);
    EXPECT_EQ(
        construct(),
        (Lines{NO_HEADER, "USB3K::USB3K - did not receive product ID response (1st attempt)"}));
    EXPECT_TRUE(device->ready);
    EXPECT_EQ(device->productId, SIM_PRODUCT_ID_TEXT);
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID), 1);
    // The second attempt received the answer whole, so the version request goes out as it is.
    EXPECT_EQ(callNamesFrom("FT_Write"),
              (Lines{"FT_Write", "FT_Read", "FT_Read", "FT_Read", "FT_GetQueueStatus", "FT_Write",
                     "FT_Read", "FT_Read", "FT_GetQueueStatus"}));
}

TEST_F(DeviceLink, ProductIdAnswerWithAWrongStartByteIsAskedForAgain) {
    // Reading on would only meet the rest of the damaged answer: the link is brought back in step
    // (the rest drained, purge, product ID request, its answer) and the request is sent again.
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 1, SIM_ANSWER_WRONG_START, 0x7F);
    EXPECT_EQ(construct(),
              (Lines{"USB3K::receivePacket - first byte not a packet header: wanted 0x61, got 7f",
                     "USB3K::USB3K - did not receive product ID response (1st attempt)",
                     "USB3K::sendPacket - discarded 12 bytes before the line went quiet"}));
    EXPECT_TRUE(device->ready);
    EXPECT_EQ(device->productId, SIM_PRODUCT_ID_TEXT);
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID), 3);
    EXPECT_EQ(callNamesFrom("got=4: 7f"),
              (Lines{"FT_Read", "FT_SetTimeouts", "FT_Read", "FT_Read", "FT_SetTimeouts",
                     "FT_Purge", "FT_Write", "FT_Read", "FT_Read", "FT_GetQueueStatus", "FT_Write",
                     "FT_Read", "FT_Read", "FT_GetQueueStatus", "FT_Write", "FT_Read", "FT_Read",
                     "FT_GetQueueStatus"}));
}

TEST_F(DeviceLink, IdentificationAnswersFollowedByStrayBytesAreKept) {
    // Their parity fields vouch for the answers; the stray bytes behind each still put the link
    // out of step, and a probe whose answer is followed by them does not bring it back.
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 0, SIM_ANSWER_TRAILING, 2);
    EXPECT_EQ(construct(),
              (Lines{"USB3K::receivePacket - 2 unexpected bytes after the packet",
                     "USB3K::sendPacket - discarded 2 bytes before the line went quiet",
                     "USB3K::sendPacket - 2 unexpected bytes after the probe's answer",
                     "USB3K::sendPacket - discarded 2 bytes before the line went quiet"}));
    EXPECT_TRUE(device->ready);
    EXPECT_EQ(device->productId, SIM_PRODUCT_ID_TEXT);
    // The second probe asks for the version instead.
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID), 2);
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_VERSION), 2);
}

TEST_F(DeviceLink, ProductIdAnswerWithoutItsField) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 1, SIM_ANSWER_MISSING_FIELD, 0);
    EXPECT_EQ(construct(), Lines{"USB3K::USB3K - no product ID field response"});
    EXPECT_FALSE(device->ready);
    EXPECT_EQ(device->productId, "");
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_VERSION), 0);
}

TEST_F(DeviceLink, ProductIdTextWithoutTerminatorEndsWithThePacket) {
    const std::vector<uint8_t> answer = hexBytes("61 00 03 00 30 41 42");
    sim_answer_raw(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 1, answer.data(), answer.size());
    EXPECT_EQ(construct(), Lines{});
    EXPECT_TRUE(device->ready);
    EXPECT_EQ(device->productId, "AB");
}

TEST_F(DeviceLink, VersionRequestThatCannotBeSent) {
    sim_fail_call(SIM_DEFAULT_SERIAL, "FT_Write", FT_FAILED_TO_WRITE_DEVICE, 2);
    EXPECT_EQ(construct(), (Lines{"USB3K::sendPacket - FT_Write failed: 10",
                                  "USB3K::USB3K - cannot send version request"}));
    EXPECT_FALSE(device->ready);
    EXPECT_EQ(device->productId, SIM_PRODUCT_ID_TEXT);
    EXPECT_EQ(device->version, "");
}

TEST_F(DeviceLink, VersionNeverAnsweredHasNoSecondAttempt) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_VERSION, 1, SIM_ANSWER_NONE, 0);
    EXPECT_EQ(construct(), (Lines{NO_HEADER, "USB3K::USB3K - did not receive version response"}));
    EXPECT_FALSE(device->ready);
    EXPECT_EQ(device->productId, SIM_PRODUCT_ID_TEXT);
    EXPECT_EQ(device->version, "");
    EXPECT_EQ(callNamesFrom("FT_Write(7: 61 00 03 00 31"), (Lines{"FT_Write", "FT_Read"}));
}

TEST_F(DeviceLink, VersionAnswerWithoutItsField) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_VERSION, 1, SIM_ANSWER_MISSING_FIELD, 0);
    EXPECT_EQ(construct(), Lines{"USB3K::USB3K - no version field in response"});
    EXPECT_FALSE(device->ready);
    EXPECT_EQ(device->productId, SIM_PRODUCT_ID_TEXT);
    EXPECT_EQ(device->version, "");
}

TEST_F(DeviceLink, SendPacketWritesTheWholePacketOnce) {
    constructReady();
    int32_t sent = -1;
    EXPECT_EQ(stderrLinesOf([&] { sent = device->sendPacket(*resetRequest()); }), Lines{});
    EXPECT_EQ(sent, 7);
    EXPECT_EQ(transcriptLines(),
              Lines{"EMU30001 FT_Write(7: 61 00 03 00 33 2f 1f) -> 0 written=7"});
}

TEST_F(DeviceLink, SendPacketReportsARejectedWrite) {
    constructReady();
    sim_fail_call(SIM_DEFAULT_SERIAL, "FT_Write", FT_IO_ERROR, IDENTIFICATION_WRITES + 1);
    int32_t sent = 0;
    EXPECT_EQ(stderrLinesOf([&] { sent = device->sendPacket(*resetRequest()); }),
              Lines{"USB3K::sendPacket - FT_Write failed: 4"});
    EXPECT_LT(sent, 0);
}

TEST_F(DeviceLink, SendPacketReportsAShortWriteAndDoesNotRetry) {
    constructReady();
    sim_short_write(SIM_DEFAULT_SERIAL, IDENTIFICATION_WRITES + 1, 5);
    int32_t sent = 0;
    EXPECT_EQ(stderrLinesOf([&] { sent = device->sendPacket(*resetRequest()); }),
              Lines{"USB3K::sendPacket - FT_Write wrote 5, expected 7"});
    EXPECT_EQ(sent, 5);
    EXPECT_EQ(transcriptLinesWith("FT_Write"),
              Lines{"EMU30001 FT_Write(7: 61 00 03 00 33 2f 1f) -> 0 written=5"});
}

TEST_F(DeviceLink, ReceivePacketReadsTheHeaderThenTheRest) {
    constructReady();
    device->sendPacket(*resetRequest());
    std::unique_ptr<ResponsePacket> response;
    EXPECT_EQ(stderrLinesOf([&] { response = device->receivePacket(); }), Lines{});
    ASSERT_NE(response, nullptr);
    ASSERT_EQ(response->length, 7);
    EXPECT_EQ(hexText({response->bytes.get(), response->bytes.get() + 7}), "61 00 03 00 39 2f 15");
    EXPECT_EQ(transcriptLinesWith("FT_Read"), (Lines{"EMU30001 FT_Read(4) -> 0 got=4: 61 00 03 00",
                                                     "EMU30001 FT_Read(3) -> 0 got=3: 39 2f 15"}));
}

TEST_F(DeviceLink, ReceivePacketReadsAnEmptyBody) {
    constructReady();
    const std::vector<uint8_t> answer = hexBytes("61 00 00 00");
    sim_answer_raw(SIM_DEFAULT_SERIAL, SIM_REQ_RESET, 1, answer.data(), answer.size());
    device->sendPacket(*resetRequest());
    std::unique_ptr<ResponsePacket> response = device->receivePacket();
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->length, 4);
    EXPECT_EQ(transcriptLinesWith("FT_Read").back(), "EMU30001 FT_Read(0) -> 0 got=0:");
}

TEST_F(DeviceLink, ReceivePacketTakesTheLargestPacketThatFits) {
    constructReady();
    std::vector<uint8_t> answer = {0x61, 0x01, 0xFC, 0x00};  // 508 bytes follow
    for (int i = 0; i < 508; ++i) {
        answer.push_back(static_cast<uint8_t>(i));
    }
    sim_answer_raw(SIM_DEFAULT_SERIAL, SIM_REQ_RESET, 1, answer.data(), answer.size());
    device->sendPacket(*resetRequest());
    std::unique_ptr<ResponsePacket> response = device->receivePacket();
    ASSERT_NE(response, nullptr);
    ASSERT_EQ(response->length, 512);
    EXPECT_EQ(std::vector<uint8_t>(response->bytes.get(), response->bytes.get() + 512), answer);
}

// One way for a receive to fail: how the answer to a reset request is spoiled, and the line the
// link writes for it.
struct ReceiveFailure {
    const char* name;
    std::function<void()> spoil;
    std::string line;
};

void PrintTo(const ReceiveFailure& failure, std::ostream* out) {
    *out << failure.name;
}

class DeviceLinkReceive : public DeviceLink, public testing::WithParamInterface<ReceiveFailure> {};

TEST_P(DeviceLinkReceive, FailsWithOneLineAndNoPacket) {
    constructReady();
    GetParam().spoil();
    device->sendPacket(*resetRequest());
    std::unique_ptr<ResponsePacket> response;
    EXPECT_EQ(stderrLinesOf([&] { response = device->receivePacket(); }), Lines{GetParam().line});
    EXPECT_EQ(response, nullptr);
}

void answerResetWith(const char* hex) {
    const std::vector<uint8_t> answer = hexBytes(hex);
    sim_answer_raw(SIM_DEFAULT_SERIAL, SIM_REQ_RESET, 1, answer.data(), answer.size());
}

void spoilResetAnswer(int fault, int value) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_RESET, 1, fault, value);
}

const char* const BAD_START =
    "USB3K::receivePacket - first byte not a packet header: wanted 0x61, got ";
const char* const SHORT_PACKET = "USB3K::receivePacket - failed to read packet header: wanted ";
const char* const TOO_LONG = "USB3K::receivePacket - packet too long: wanted at most 508, got ";

INSTANTIATE_TEST_SUITE_P(
    EveryFailure, DeviceLinkReceive,
    testing::Values(
        ReceiveFailure{"HeaderReadError",
                       [] {
                           sim_fail_call(SIM_DEFAULT_SERIAL, "FT_Read", FT_IO_ERROR,
                                         IDENTIFICATION_READS + 1);
                       },
                       "USB3K::receivePacket - FT_Read failed: 4"},
        ReceiveFailure{"BodyReadError",
                       [] {
                           sim_fail_call(SIM_DEFAULT_SERIAL, "FT_Read", FT_OTHER_ERROR,
                                         IDENTIFICATION_READS + 2);
                       },
                       "USB3K::receivePacket - FT_Read failed: 18"},
        ReceiveFailure{"NoAnswer", [] { spoilResetAnswer(SIM_ANSWER_NONE, 0); }, NO_HEADER},
        ReceiveFailure{"HeaderCut", [] { spoilResetAnswer(SIM_ANSWER_SHORT, 2); },
                       std::string(SHORT_PACKET) + "4, got 2"},
        ReceiveFailure{"WrongStartByte", [] { spoilResetAnswer(SIM_ANSWER_WRONG_START, 0x7F); },
                       std::string(BAD_START) + "7f"},
        ReceiveFailure{"WrongStartByteBelow0x10",
                       [] { spoilResetAnswer(SIM_ANSWER_WRONG_START, 0x0A); },
                       std::string(BAD_START) + "0a"},
        ReceiveFailure{"BodyCut", [] { answerResetWith("61 00 0a 00 39 2f 15"); },
                       std::string(SHORT_PACKET) + "10, got 3"},
        ReceiveFailure{"HeaderAnnounces509", [] { spoilResetAnswer(SIM_ANSWER_OVERSIZED, 509); },
                       std::string(TOO_LONG) + "509"},
        ReceiveFailure{"HeaderAnnounces65535",
                       [] { spoilResetAnswer(SIM_ANSWER_OVERSIZED, 65535); },
                       std::string(TOO_LONG) + "65535"}),
    [](const testing::TestParamInfo<ReceiveFailure>& info) { return info.param.name; });

TEST_F(DeviceLink, AnOversizedHeaderIsNotReadInto) {
    constructReady();
    spoilResetAnswer(SIM_ANSWER_OVERSIZED, 600);
    device->sendPacket(*resetRequest());
    stderrLinesOf([&] { EXPECT_EQ(device->receivePacket(), nullptr); });
    EXPECT_EQ(transcriptLinesWith("FT_Read"), Lines{"EMU30001 FT_Read(4) -> 0 got=4: 61 02 58 00"});
}

TEST_F(DeviceLink, ABadHeaderLeavesTheRestForTheNextRead) {
    constructReady();
    spoilResetAnswer(SIM_ANSWER_WRONG_START, 0x7F);
    device->sendPacket(*resetRequest());
    const Lines lines = stderrLinesOf([&] {
        EXPECT_EQ(device->receivePacket(), nullptr);
        EXPECT_EQ(device->receivePacket(), nullptr);
    });
    EXPECT_EQ(lines,
              (Lines{std::string(BAD_START) + "7f", std::string(SHORT_PACKET) + "4, got 3"}));
    EXPECT_EQ(transcriptLinesWith("FT_Read").back(), "EMU30001 FT_Read(4) -> 0 got=3: 39 2f 15");
}

TEST_F(DeviceLink, TheSendAfterAFailedReceiveBringsTheLinkBackInStepFirst) {
    constructReady();
    spoilResetAnswer(SIM_ANSWER_WRONG_START, 0x7F);
    device->sendPacket(*resetRequest());
    stderrLinesOf([&] { EXPECT_EQ(device->receivePacket(), nullptr); });

    // The stale rest of the damaged answer is discarded and the product ID answer proves the link
    // in step before the request goes out; its own answer is then read whole.
    sim_clear_transcript();
    EXPECT_EQ(stderrLinesOf([&] { EXPECT_EQ(device->sendPacket(*resetRequest()), 7); }),
              Lines{"USB3K::sendPacket - discarded 3 bytes before the line went quiet"});
    std::unique_ptr<ResponsePacket> response = device->receivePacket();
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(hexText({response->bytes.get(), response->bytes.get() + response->length}),
              "61 00 03 00 39 2f 15");
    EXPECT_EQ(transcriptLinesWith("FT_Write"),
              (Lines{"EMU30001 FT_Write(7: 61 00 03 00 30 2f 1c) -> 0 written=7",
                     "EMU30001 FT_Write(7: 61 00 03 00 33 2f 1f) -> 0 written=7"}));
    // The line is let go quiet with a read time-out of one latency timer and 4 ms, which is then
    // restored.
    EXPECT_EQ(callNamesFrom(""),
              (Lines{"FT_SetTimeouts", "FT_Read", "FT_Read", "FT_SetTimeouts", "FT_Purge",
                     "FT_Write", "FT_Read", "FT_Read", "FT_GetQueueStatus", "FT_Write", "FT_Read",
                     "FT_Read", "FT_GetQueueStatus"}));
    EXPECT_EQ(
        transcriptLinesWith("FT_SetTimeouts"),
        (Lines{"EMU30001 FT_SetTimeouts(8, 100) -> 0", "EMU30001 FT_SetTimeouts(200, 100) -> 0"}));

    // Back in step: an exchange is one write, two reads and the check that nothing follows.
    sim_clear_transcript();
    device->sendPacket(*resetRequest());
    device->receivePacket();
    EXPECT_EQ(callNamesFrom(""), (Lines{"FT_Write", "FT_Read", "FT_Read", "FT_GetQueueStatus"}));
}

// Ways the link can fall out of step, the lines they give, whether the answer is kept (its
// parity field vouches for it), and what the next send then does.
struct OutOfStep {
    const char* name;
    int fault;
    int value;
    Lines receiveLines;
    bool kept;
    Lines sendLines;
};

std::ostream& operator<<(std::ostream& out, const OutOfStep& glitch) {
    return out << glitch.name;
}

class DeviceLinkOutOfStep : public DeviceLink, public testing::WithParamInterface<OutOfStep> {};

TEST_P(DeviceLinkOutOfStep, NoRequestGoesOutUntilTheLinkIsBackInStep) {
    constructReady();
    spoilResetAnswer(GetParam().fault, GetParam().value);
    device->sendPacket(*resetRequest());
    EXPECT_EQ(
        stderrLinesOf([&] { EXPECT_EQ(device->receivePacket() != nullptr, GetParam().kept); }),
        GetParam().receiveLines);
    int32_t sent = 0;
    EXPECT_EQ(stderrLinesOf([&] { sent = device->sendPacket(*resetRequest()); }),
              GetParam().sendLines);
    EXPECT_EQ(sent, 7);
    // The request went out only once the link was back in step: its answer is read whole.
    EXPECT_EQ(stderrLinesOf([&] { EXPECT_NE(device->receivePacket(), nullptr); }), Lines{});
}

const char* const STALE_PACKET = "USB3K::sendPacket - discarded a stale packet of 7 bytes";

INSTANTIATE_TEST_SUITE_P(
    EveryGlitch, DeviceLinkOutOfStep,
    testing::Values(OutOfStep{"Duplicated",
                              SIM_ANSWER_DUPLICATED,
                              0,
                              {"USB3K::receivePacket - 7 unexpected bytes after the packet"},
                              true,
                              {"USB3K::sendPacket - discarded 7 bytes before the line went quiet"}},
                    OutOfStep{"HeaderAnnouncesTooLittle",
                              SIM_ANSWER_LENGTH,
                              1,
                              {"USB3K::receivePacket - 2 unexpected bytes after the packet"},
                              false,
                              {"USB3K::sendPacket - discarded 2 bytes before the line went quiet"}},
                    OutOfStep{"TrailingBytes",
                              SIM_ANSWER_TRAILING,
                              5,
                              {"USB3K::receivePacket - 5 unexpected bytes after the packet"},
                              true,
                              {"USB3K::sendPacket - discarded 5 bytes before the line went quiet"}},
                    OutOfStep{"ParityMismatch",
                              SIM_ANSWER_BIT_FLIP,
                              6 * 8 + 1,
                              {"USB3K::receivePacket - parity mismatch: wanted 15, got 17"},
                              false,
                              {}},
                    OutOfStep{"AnswerArrivingAfterThePurge",
                              SIM_ANSWER_AFTER_PURGE,
                              1,
                              {NO_HEADER},
                              false,
                              {STALE_PACKET}},
                    OutOfStep{"AnswerArrivingAfterTheNextWrite",
                              SIM_ANSWER_AFTER_WRITE,
                              1,
                              {NO_HEADER},
                              false,
                              {STALE_PACKET}},
                    // The first time-out is the receive's, the second the drain's: the answer
                    // arrives while the probe waits for its own.
                    OutOfStep{"AnswerLaterThanThreeTimeouts",
                              SIM_ANSWER_LATE,
                              3,
                              {NO_HEADER},
                              false,
                              {NO_HEADER, STALE_PACKET}}),
    [](const testing::TestParamInfo<OutOfStep>& info) { return std::string(info.param.name); });

TEST_F(DeviceLink, AFailingPurgeKeepsTheRequestBack) {
    constructReady();
    spoilResetAnswer(SIM_ANSWER_NONE, 0);
    sim_fail_call(SIM_DEFAULT_SERIAL, "FT_Purge", FT_IO_ERROR, 1);
    device->sendPacket(*resetRequest());
    int32_t sent = 0;
    const Lines lines = stderrLinesOf([&] {
        device->receivePacket();
        sent = device->sendPacket(*resetRequest());
    });
    EXPECT_EQ(lines, (Lines{NO_HEADER, "USB3K::sendPacket - FT_Purge failed: 4"}));
    EXPECT_EQ(sent, -1);
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_RESET), 1);

    // The link stays out of step: the next send tries again, and this time it succeeds.
    EXPECT_EQ(stderrLinesOf([&] { sent = device->sendPacket(*resetRequest()); }), Lines{});
    EXPECT_EQ(sent, 7);
}

TEST_F(DeviceLink, ALinkThatStaysSilentIsNotBackInStep) {
    constructReady();
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_RESET, 0, SIM_ANSWER_NONE, 0);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 0, SIM_ANSWER_NONE, 0);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_VERSION, 0, SIM_ANSWER_NONE, 0);
    device->sendPacket(*resetRequest());
    stderrLinesOf([&] { device->receivePacket(); });
    int32_t sent = 0;
    const Lines lines = stderrLinesOf([&] { sent = device->sendPacket(*resetRequest()); });
    // Four probes, alternately for the product ID and the version, each given two read
    // time-outs.
    EXPECT_EQ(lines,
              (Lines{NO_HEADER, NO_HEADER, NO_HEADER, NO_HEADER, NO_HEADER, NO_HEADER, NO_HEADER,
                     NO_HEADER, "USB3K::sendPacket - link not back in step; request not sent"}));
    EXPECT_EQ(sent, -1);
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_RESET), 1);
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID), 1 + 2);
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_VERSION), 1 + 2);
}

TEST_F(DeviceLink, EachOperationFirstChecksThatNothingWaits) {
    constructReady();
    // Time passes between operations: the first request of each looks at the receive queue. When
    // D2XX cannot tell, the link is brought back in step before the request goes out.
    const int queries = sim_call_count(SIM_DEFAULT_SERIAL, "FT_GetQueueStatus");
    sim_fail_call(SIM_DEFAULT_SERIAL, "FT_GetQueueStatus", FT_IO_ERROR, queries + 1);
    EXPECT_EQ(stderrLinesOf([&] { EXPECT_EQ(device->reset(), 0); }),
              (Lines{"USB3K::sendPacket - FT_GetQueueStatus failed: 4"}));
    EXPECT_EQ(callNamesFrom(""),
              (Lines{"FT_GetQueueStatus", "FT_SetTimeouts", "FT_Read", "FT_SetTimeouts", "FT_Purge",
                     "FT_Write", "FT_Read", "FT_Read", "FT_GetQueueStatus", "FT_Write", "FT_Read",
                     "FT_Read", "FT_GetQueueStatus"}));
}

}  // namespace
