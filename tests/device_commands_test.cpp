// The control commands over the emulator: the request each one sends, the result it makes of the
// answer, and the lines and results of every way an exchange can fail.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "bytes.h"
#include "device/command_result.h"
#include "device/usb3k.h"
#include "ready_device_test.h"
#include "sim_test_support.h"

namespace {

using Lines = std::vector<std::string>;

// Identification made 2 writes before any command.
constexpr int IDENTIFICATION_WRITES = 2;

struct Command {
    const char* name;
    int32_t (USB3K::*run)();
    int request;
    const char* wire;
    const char* notSent;
    const char* notReceived;
    const char* noField;
};

const Command RESET = {"reset",
                       &USB3K::reset,
                       SIM_REQ_RESET,
                       "61 00 03 00 33 2f 1f",
                       "USB3K::reset - cannot send reset request",
                       "USB3K::reset - did not receive reset response",
                       "USB3K::reset - no ready field in response"};
const Command STOP_CODEC = {"stopCodec",
                            &USB3K::stopCodec,
                            SIM_REQ_STOP_CODEC,
                            "61 00 03 00 2b 2f 07",
                            "USB3K::stopCodec - cannot send stop codec request",
                            "USB3K::stopCodec - did not receive stop codec response",
                            "USB3K::stopCodec - no codec stop field in response"};
const Command SET_RATE = {"setRate",
                          &USB3K::setRate,
                          SIM_REQ_RATE,
                          "61 00 04 00 09 22 2f 00",
                          "USB3K::setRate - cannot send rate request",
                          "USB3K::setRate - did not receive rate response",
                          "USB3K::setRate - no rate field in response"};

class DeviceCommands : public ReadyDeviceTest {
  protected:
    // Runs the command with standard error captured; the result goes to `result`.
    Lines run(const Command& command, int32_t& result) {
        return stderrLinesOf([&] { result = ((*device).*command.run)(); });
    }
};

void PrintTo(const Command& command, std::ostream* out) {
    *out << command.name;
}

TEST(DeviceCommandsNotReady, EveryCommandIsRefusedSilently) {
    sim_reset();
    std::unique_ptr<USB3K> device;
    stderrLinesOf([&] { device = std::make_unique<USB3K>("NOPE"); });
    sim_clear_transcript();
    for (const Command& command : {RESET, STOP_CODEC, SET_RATE}) {
        int32_t result = 0;
        EXPECT_EQ(stderrLinesOf([&] { result = ((*device).*command.run)(); }), Lines{});
        EXPECT_EQ(result, COMMAND_NOT_READY) << command.name;
    }
    EXPECT_EQ(transcriptLines(), Lines{});
}

class EachCommand : public DeviceCommands, public testing::WithParamInterface<Command> {};

TEST_P(EachCommand, SendsItsRequestAndSucceeds) {
    int32_t result = -9;
    EXPECT_EQ(run(GetParam(), result), Lines{});
    EXPECT_EQ(result, 0);
    const std::string wire = GetParam().wire;
    EXPECT_EQ(transcriptLinesWith("FT_Write"),
              Lines{"EMU30001 FT_Write(" + std::to_string(hexBytes(wire).size()) + ": " + wire +
                    ") -> 0 written=" + std::to_string(hexBytes(wire).size())});
    // Nothing waits before the request, and nothing follows the answer.
    EXPECT_EQ(callNamesFrom(""),
              (Lines{"FT_GetQueueStatus", "FT_Write", "FT_Read", "FT_Read", "FT_GetQueueStatus"}));
}

TEST_P(EachCommand, RequestTheLinkRejects) {
    sim_fail_call(SIM_DEFAULT_SERIAL, "FT_Write", FT_IO_ERROR, IDENTIFICATION_WRITES + 1);
    int32_t result = 0;
    EXPECT_EQ(run(GetParam(), result),
              (Lines{"USB3K::sendPacket - FT_Write failed: 4", GetParam().notSent}));
    EXPECT_EQ(result, COMMAND_NOT_SENT);
    EXPECT_EQ(transcriptLinesWith("FT_Read"), Lines{});
}

TEST_P(EachCommand, NoAnswer) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, GetParam().request, 1, SIM_ANSWER_NONE, 0);
    int32_t result = 0;
    EXPECT_EQ(run(GetParam(), result),
              (Lines{"USB3K::receivePacket - failed to read packet header: wanted 4, got 0",
                     GetParam().notReceived}));
    EXPECT_EQ(result, COMMAND_NO_RESPONSE);
    // One attempt, no resend.
    EXPECT_EQ(callNamesFrom(""), (Lines{"FT_GetQueueStatus", "FT_Write", "FT_Read"}));
}

TEST_P(EachCommand, AnswerWithAWrongStartByte) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, GetParam().request, 1, SIM_ANSWER_WRONG_START, 0xA1);
    int32_t result = 0;
    EXPECT_EQ(run(GetParam(), result),
              (Lines{"USB3K::receivePacket - first byte not a packet header: wanted 0x61, got a1",
                     GetParam().notReceived}));
    EXPECT_EQ(result, COMMAND_NO_RESPONSE);
}

TEST_P(EachCommand, AnswerWithoutTheField) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, GetParam().request, 1, SIM_ANSWER_MISSING_FIELD, 0);
    int32_t result = 0;
    EXPECT_EQ(run(GetParam(), result), Lines{GetParam().noField});
    EXPECT_EQ(result, COMMAND_NO_FIELD);
    EXPECT_EQ(device->rate, 0);
}

INSTANTIATE_TEST_SUITE_P(ResetStopCodecSetRate, EachCommand,
                         testing::Values(RESET, STOP_CODEC, SET_RATE),
                         [](const testing::TestParamInfo<Command>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(DeviceCommands, AfterAShortWriteTheCommandStillWaitsForItsAnswer) {
    // The device drops the cut request, so the wait ends with the read time-out.
    sim_short_write(SIM_DEFAULT_SERIAL, IDENTIFICATION_WRITES + 1, 5);
    int32_t result = 0;
    EXPECT_EQ(run(STOP_CODEC, result),
              (Lines{"USB3K::sendPacket - FT_Write wrote 5, expected 7",
                     "USB3K::receivePacket - failed to read packet header: wanted 4, got 0",
                     STOP_CODEC.notReceived}));
    EXPECT_EQ(result, COMMAND_NO_RESPONSE);
}

TEST_F(DeviceCommands, StatusBytesAreResultsWithoutLines) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_STOP_CODEC, 1, SIM_ANSWER_STATUS, 5);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_STOP_CODEC, 2, SIM_ANSWER_STATUS, 0xFF);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_RATE, 1, SIM_ANSWER_STATUS, 1);
    int32_t result = 0;
    EXPECT_EQ(run(STOP_CODEC, result), Lines{});
    EXPECT_EQ(result, 5);
    EXPECT_EQ(run(STOP_CODEC, result), Lines{});
    EXPECT_EQ(result, 255);
    EXPECT_EQ(run(SET_RATE, result), Lines{});
    EXPECT_EQ(result, 1);
    EXPECT_EQ(device->rate, 0);
}

TEST_F(DeviceCommands, OnlyAnAcceptedRateTableChangesTheRate) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_RATE, 2, SIM_ANSWER_STATUS, 7);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_RATE, 3, SIM_ANSWER_NONE, 0);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_RATE, 4, SIM_ANSWER_MISSING_FIELD, 0);
    EXPECT_EQ(device->setRate(), 0);
    EXPECT_EQ(device->rate, 34);
    // A refusal, a lost answer and an answer without the field all leave the rate as it was.
    stderrLinesOf([&] {
        EXPECT_EQ(device->setRate(), 7);
        EXPECT_EQ(device->setRate(), COMMAND_NO_RESPONSE);
        EXPECT_EQ(device->setRate(), COMMAND_NO_FIELD);
    });
    EXPECT_EQ(device->rate, 34);
    // Neither a reset nor a stop codec touches it.
    EXPECT_EQ(device->reset(), 0);
    EXPECT_EQ(device->stopCodec(), 0);
    EXPECT_EQ(device->rate, 34);
}

TEST_F(DeviceCommands, ResetFindsTheReadyFieldBehindAnotherField) {
    const std::vector<uint8_t> answer = hexBytes("61 00 05 00 2b 00 39 2f 38");
    sim_answer_raw(SIM_DEFAULT_SERIAL, SIM_REQ_RESET, 1, answer.data(), answer.size());
    int32_t result = -9;
    EXPECT_EQ(run(RESET, result), Lines{});
    EXPECT_EQ(result, 0);
}

TEST_F(DeviceCommands, AStatusByteAtThePacketsEndIsNoField) {
    // The stop codec field's status byte would lie past the packet's end.
    const std::vector<uint8_t> answer = hexBytes("61 00 01 00 2b");
    sim_answer_raw(SIM_DEFAULT_SERIAL, SIM_REQ_STOP_CODEC, 1, answer.data(), answer.size());
    int32_t result = 0;
    EXPECT_EQ(run(STOP_CODEC, result), Lines{STOP_CODEC.noField});
    EXPECT_EQ(result, COMMAND_NO_FIELD);
}

}  // namespace
