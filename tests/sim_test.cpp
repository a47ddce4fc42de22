// The emulator's own behaviour, seen through the D2XX calls: what the library's suites rely on
// but cannot see themselves (refused packets, the channel layouts, the device records, faults).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <set>

#include "bytes.h"
#include "d2xx/d2xx.h"
#include "sim_test_support.h"

namespace {

const char* const PRODUCT_ID_REQUEST = "61 00 03 00 30 2f 1c";
const char* const PRODUCT_ID_ANSWER = "61 00 0c 00 30 55 53 42 2d 33 30 30 30 00 2f 79";
const char* const RATE_34_REQUEST = "61 00 04 00 09 22 2f 00";
const char* const RESET_REQUEST = "61 00 03 00 33 2f 1f";
const char* const RESET_ANSWER = "61 00 03 00 39 2f 15";
// The product ID answer, then the reset answer: what two requests in a row get, in that order.
const char* const BOTH_ANSWERS =
    "61 00 0c 00 30 55 53 42 2d 33 30 30 30 00 2f 79 61 00 03 00 39 2f 15";

FT_HANDLE openDevice(const char* serial = SIM_DEFAULT_SERIAL) {
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(FT_OpenEx(const_cast<char*>(serial), FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
    return handle;
}

DWORD writeHex(FT_HANDLE handle, const std::string& hex) {
    std::vector<uint8_t> bytes = hexBytes(hex);
    DWORD written = 0;
    EXPECT_EQ(FT_Write(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written), FT_OK);
    return written;
}

// Reads up to `count` bytes and returns what arrived, as hex text.
std::string readHex(FT_HANDLE handle, DWORD count) {
    std::vector<uint8_t> bytes(count);
    DWORD got = 0;
    EXPECT_EQ(FT_Read(handle, bytes.data(), count, &got), FT_OK);
    bytes.resize(got);
    return hexText(bytes);
}

// Everything queued for reading (more than any answer holds).
std::string readAll(FT_HANDLE handle) {
    return readHex(handle, 1024);
}

DWORD queuedBytes(FT_HANDLE handle) {
    DWORD count = 99;
    EXPECT_EQ(FT_GetQueueStatus(handle, &count), FT_OK);
    return count;
}

std::string speechAnswerFor(uint64_t codeword) {
    return hexText(speechForCodeword(codeword));
}

using SimDeviceList = SimTest;
using SimHandles = SimTest;
using SimProtocol = SimTest;
using SimChannel = SimTest;
using SimTone = SimTest;
using SimFaults = SimTest;
using SimOrder = SimTest;
using SimControl = SimTest;
using SimTranscript = SimTest;

TEST_F(SimDeviceList, DefaultDeviceRecordHasTheDriversLayout) {
    DWORD count = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(count, 1u);

    FT_DEVICE_LIST_INFO_NODE records[2];
    std::memset(records, 0xAB, sizeof records);
    count = 2;
    ASSERT_EQ(FT_GetDeviceInfoList(records, &count), FT_OK);
    EXPECT_EQ(count, 1u);

    // Read back through the raw bytes, at the offsets the driver's record has.
    const auto* raw = reinterpret_cast<const unsigned char*>(&records[0]);
    uint32_t id = 0;
    std::memcpy(&id, raw + 8, 4);
    EXPECT_EQ(id, SIM_USB3000_ID);
    EXPECT_STREQ(reinterpret_cast<const char*>(raw + 16), SIM_DEFAULT_SERIAL);
    EXPECT_STREQ(reinterpret_cast<const char*>(raw + 32), "USB-3000 (emulated)");
    EXPECT_EQ(records[0].Flags, 0u);
    EXPECT_EQ(records[0].ftHandle, nullptr);
    // The second record was not the emulator's to fill.
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&records[1])[0], 0xAB);

    FT_HANDLE handle = openDevice();
    count = 1;
    ASSERT_EQ(FT_GetDeviceInfoList(records, &count), FT_OK);
    EXPECT_EQ(records[0].Flags, 1u);
    EXPECT_EQ(records[0].ftHandle, handle);
    FT_Close(handle);

    EXPECT_EQ(transcriptLinesWith("DeviceInfoList"),
              (std::vector<std::string>{"FT_CreateDeviceInfoList() -> 0 count=1",
                                        "FT_GetDeviceInfoList(2) -> 0 count=1",
                                        "FT_GetDeviceInfoList(1) -> 0 count=1"}));
}

TEST_F(SimDeviceList, FillsNoMoreRecordsThanTheCallerHasRoomFor) {
    sim_add_device(0x04036010, "OTHER001", "another FTDI device");
    sim_add_device(SIM_USB3000_ID, "SIXTEEN-CHARS-16", "second USB-3000");
    DWORD count = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    ASSERT_EQ(count, 3u);

    FT_DEVICE_LIST_INFO_NODE records[3];
    std::memset(records, 0xAB, sizeof records);
    count = 2;
    ASSERT_EQ(FT_GetDeviceInfoList(records, &count), FT_OK);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(records[1].ID, 0x04036010u);
    EXPECT_STREQ(records[1].SerialNumber, "OTHER001");
    EXPECT_EQ(reinterpret_cast<const unsigned char*>(&records[2])[0], 0xAB);

    // A serial number of 16 characters fills its field with no terminating zero.
    count = 3;
    ASSERT_EQ(FT_GetDeviceInfoList(records, &count), FT_OK);
    EXPECT_EQ(std::string(records[2].SerialNumber, 16), "SIXTEEN-CHARS-16");
}

TEST_F(SimDeviceList, RefusesASerialNumberItCouldNotListOrOpen) {
    EXPECT_EQ(sim_add_device(SIM_USB3000_ID, "SEVENTEEN-CHARS17", "USB-3000"), -1);
    EXPECT_EQ(sim_add_device(0x04036010, SIM_DEFAULT_SERIAL, "another FTDI device"), -1);
    DWORD count = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    EXPECT_EQ(count, 1u);
}

TEST_F(SimDeviceList, ListCallsFailWhenAsked) {
    sim_fail_call(nullptr, "FT_CreateDeviceInfoList", FT_IO_ERROR, 1);
    sim_fail_call(nullptr, "FT_GetDeviceInfoList", FT_OTHER_ERROR, 0);
    DWORD count = 0;
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_IO_ERROR);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);  // only the first call fails
    FT_DEVICE_LIST_INFO_NODE record;
    EXPECT_EQ(FT_GetDeviceInfoList(&record, &count), FT_OTHER_ERROR);
    EXPECT_EQ(transcriptLines(), (std::vector<std::string>{"FT_CreateDeviceInfoList() -> 4",
                                                           "FT_CreateDeviceInfoList() -> 0 count=1",
                                                           "FT_GetDeviceInfoList(1) -> 18"}));
}

TEST_F(SimHandles, OpenByUnknownSerialIsNotFound) {
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(FT_OpenEx(const_cast<char*>("NOPE"), FT_OPEN_BY_SERIAL_NUMBER, &handle),
              FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(handle, nullptr);
    EXPECT_EQ(sim_open_handles(), 0);
    EXPECT_EQ(transcriptLines(), std::vector<std::string>{"FT_OpenEx(NOPE, 1) -> 2"});
}

TEST_F(SimHandles, CloseNeverCrashesOnABadHandle) {
    FT_HANDLE handle = openDevice();
    EXPECT_EQ(sim_open_handles(), 1);
    FT_HANDLE second = nullptr;
    EXPECT_EQ(FT_OpenEx(const_cast<char*>(SIM_DEFAULT_SERIAL), 1, &second), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(FT_Close(handle), FT_OK);
    EXPECT_EQ(sim_open_handles(), 0);
    EXPECT_EQ(FT_Close(handle), FT_INVALID_HANDLE);
    EXPECT_EQ(FT_Close(nullptr), FT_INVALID_HANDLE);
    int notAHandle = 0;
    EXPECT_EQ(FT_Close(&notAHandle), FT_INVALID_HANDLE);
    EXPECT_EQ(transcriptLinesWith("FT_Close"),
              (std::vector<std::string>{"EMU30001 FT_Close() -> 0", "? FT_Close() -> 1",
                                        "? FT_Close() -> 1", "? FT_Close() -> 1"}));
}

TEST_F(SimHandles, ResetInvalidatesOpenHandles) {
    FT_HANDLE handle = openDevice();
    sim_reset();
    EXPECT_EQ(sim_open_handles(), 0);
    DWORD written = 7;
    EXPECT_EQ(FT_Write(handle, hexBytes(PRODUCT_ID_REQUEST).data(), 7, &written),
              FT_INVALID_HANDLE);
    EXPECT_EQ(written, 0u);
    // The device can be opened again, under a new handle.
    FT_HANDLE again = openDevice();
    EXPECT_NE(again, handle);
    FT_Close(again);
}

TEST_F(SimProtocol, ControlRequestsGetTheDevicesAnswers) {
    FT_HANDLE handle = openDevice();
    writeHex(handle, PRODUCT_ID_REQUEST);
    EXPECT_EQ(readAll(handle), PRODUCT_ID_ANSWER);
    writeHex(handle, "61 00 03 00 31 2f 1d");
    EXPECT_EQ(readAll(handle), "61 00 0d 00 31 32 2e 37 2e 31 2d 65 6d 75 00 2f 77");
    writeHex(handle, "61 00 03 00 33 2f 1f");
    EXPECT_EQ(readAll(handle), "61 00 03 00 39 2f 15");
    writeHex(handle, "61 00 03 00 2b 2f 07");
    EXPECT_EQ(readAll(handle), "61 00 04 00 2b 00 2f 00");
    writeHex(handle, RATE_34_REQUEST);
    EXPECT_EQ(readAll(handle), "61 00 04 00 09 00 2f 22");
    // A rate table the device does not have is refused with status 1.
    writeHex(handle, "61 00 04 00 09 23 2f 01");
    EXPECT_EQ(readAll(handle), "61 00 04 00 09 01 2f 23");
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_RATE), 2);
    EXPECT_EQ(sim_request_count(nullptr, SIM_REQ_PRODUCT_ID), 1);
    FT_Close(handle);
}

TEST_F(SimProtocol, RefusedPacketsAreNotAnsweredButNoted) {
    FT_HANDLE handle = openDevice();
    writeHex(handle, "61 00 03 00 30 2f 1d");  // parity byte off by one
    writeHex(handle, "62 00 03 00 30 2f 1c");
    writeHex(handle, "61 00 03 00 3a 2f 16");
    writeHex(handle, "61 00 01 00 30");
    writeHex(handle, "61 00 02 00 2f 2d");
    writeHex(handle, "61 00 04 00 30 00 2f 1b");  // a product ID request takes no data
    EXPECT_EQ(readAll(handle), "");
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID), 0);
    EXPECT_EQ(transcriptLinesWith(" sim: "),
              (std::vector<std::string>{
                  "EMU30001 sim: bad parity",
                  "EMU30001 sim: bad start byte 62, 7 bytes dropped",
                  "EMU30001 sim: malformed packet: field 3a in a packet of type 00",
                  "EMU30001 sim: malformed packet: no parity field",
                  "EMU30001 sim: malformed packet: no field",
                  "EMU30001 sim: malformed packet: field 30 with 1 data bytes",
              }));
    FT_Close(handle);
}

TEST_F(SimProtocol, EveryPacketOfAWriteIsAnswered) {
    FT_HANDLE handle = openDevice();
    writeHex(handle, std::string(PRODUCT_ID_REQUEST) + " 61 00 03 00 33 2f 1f");
    EXPECT_EQ(readAll(handle), std::string(PRODUCT_ID_ANSWER) + " 61 00 03 00 39 2f 15");
    FT_Close(handle);
}

TEST_F(SimProtocol, APacketCutByAShortWriteIsDropped) {
    sim_short_write(SIM_DEFAULT_SERIAL, 1, 5);
    FT_HANDLE handle = openDevice();
    EXPECT_EQ(writeHex(handle, PRODUCT_ID_REQUEST), 5u);
    EXPECT_EQ(readHex(handle, 4), "");
    // The next, whole packet starts afresh.
    EXPECT_EQ(writeHex(handle, PRODUCT_ID_REQUEST), 7u);
    EXPECT_EQ(readAll(handle), PRODUCT_ID_ANSWER);
    EXPECT_EQ(transcriptLinesWith("FT_Write")[0],
              "EMU30001 FT_Write(7: 61 00 03 00 30 2f 1c) -> 0 written=5");
    EXPECT_EQ(transcriptLinesWith(" sim: "),
              std::vector<std::string>{"EMU30001 sim: incomplete packet, 5 bytes dropped"});
    FT_Close(handle);
}

TEST_F(SimProtocol, OtherFtdiDevicesNeverAnswer) {
    sim_add_device(0x04036015, "OTHER001", "another FTDI device");
    FT_HANDLE handle = openDevice("OTHER001");
    EXPECT_EQ(writeHex(handle, PRODUCT_ID_REQUEST), 7u);
    EXPECT_EQ(readHex(handle, 4), "");
    FT_Close(handle);
}

TEST_F(SimChannel, Rate34LayoutIsDeinterleaved) {
    FT_HANDLE handle = openDevice();
    writeHex(handle, RATE_34_REQUEST);
    readAll(handle);

    writeHex(handle, "61 00 0b 01 01 31 cc 56 de 86 a2 6c 80 2f 99");
    const std::string answer = readAll(handle);
    // 328 bytes: header, speech field with the sample count 160, 320 speech bytes, parity field.
    ASSERT_EQ(answer.size(), 328u * 3 - 1);
    EXPECT_EQ(answer.substr(0, 17), "61 01 44 02 00 a0");
    EXPECT_EQ(answer.substr(18, 320 * 3 - 1), speechAnswerFor(0x123456789ABCDull));
    const std::vector<uint8_t> bytes = hexBytes(answer);
    uint8_t parity = 0;
    for (std::size_t i = 1; i + 1 < bytes.size(); ++i) {
        parity ^= bytes[i];
    }
    EXPECT_EQ(bytes[326], 0x2F);
    EXPECT_EQ(bytes[327], parity);

    // Single codeword bits: w0, w18 and w48 from their interleave positions.
    const std::pair<const char*, uint64_t> vectors[] = {
        {"61 00 0b 01 01 31 80 00 00 00 00 00 00 2f 95", uint64_t{1} << 48},
        {"61 00 0b 01 01 31 40 00 00 00 00 00 00 2f 55", uint64_t{1} << 30},
        {"61 00 0b 01 01 31 00 00 00 00 02 00 00 2f 17", 1},
    };
    for (const auto& vector : vectors) {
        writeHex(handle, vector.first);
        EXPECT_EQ(readAll(handle).substr(18, 320 * 3 - 1), speechAnswerFor(vector.second))
            << vector.first;
    }
    FT_Close(handle);
}

TEST_F(SimChannel, PlainLayoutIsUnpacked) {
    FT_HANDLE handle = openDevice();
    writeHex(handle, "61 00 0b 01 01 91 a2 b3 c4 d5 e6 80 00 2f d3");
    EXPECT_EQ(readAll(handle).substr(18, 320 * 3 - 1), speechAnswerFor(0x123456789ABCDull));
    FT_Close(handle);
}

TEST_F(SimChannel, ALayoutTheDeviceDoesNotExpectIsRefused) {
    FT_HANDLE handle = openDevice();
    // Rate-34 bytes sent to a device in the plain layout: bits after w48 are set.
    writeHex(handle, "61 00 0b 01 01 31 cc 56 de 86 a2 6c 80 2f 99");
    // A rate table refused with a status leaves the device in the plain layout too.
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_RATE, 1, SIM_ANSWER_STATUS, 3);
    writeHex(handle, RATE_34_REQUEST);
    EXPECT_EQ(readAll(handle), "61 00 04 00 09 03 2f 21");
    writeHex(handle, "61 00 0b 01 01 31 cc 56 de 86 a2 6c 80 2f 99");
    // Once table 34 is accepted, plain bytes lack the bit count 49.
    writeHex(handle, RATE_34_REQUEST);
    readAll(handle);
    writeHex(handle, "61 00 0b 01 01 91 a2 b3 c4 d5 e6 80 00 2f d3");
    EXPECT_EQ(readAll(handle), "");
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL), 0);
    EXPECT_EQ(transcriptLinesWith(" sim: "),
              (std::vector<std::string>{
                  "EMU30001 sim: malformed packet: channel field not in the plain layout",
                  "EMU30001 sim: malformed packet: channel field not in the plain layout",
                  "EMU30001 sim: malformed packet: channel field not in the rate-34 layout"}));
    FT_Close(handle);
}

TEST_F(SimTone, SamplesFollowTheDocumentedMapping) {
    // Codeword 0: 250 Hz, amplitude 2048, phase 0, every least significant bit 0.
    EXPECT_EQ(hexText(speechForCodeword(0)).substr(0, 23), "00 00 01 8e 03 0e 04 70");
    // All ones: 2800 Hz, amplitude 9728, starting phase step 255, least significant bits 1;
    // the first sample is negative and rounds toward zero.
    EXPECT_EQ(hexText(speechForCodeword((uint64_t{1} << 49) - 1)).substr(0, 11), "ff 13 1f 99");
    // Bits above the 49th are not part of the codeword.
    EXPECT_EQ(speechForCodeword(~uint64_t{0}), speechForCodeword((uint64_t{1} << 49) - 1));
}

TEST_F(SimTone, EveryCodewordBitChangesTheBlockAudibly) {
    for (uint64_t base : {uint64_t{0}, uint64_t{0x123456789ABCD}, (uint64_t{1} << 49) - 1}) {
        std::set<std::vector<uint8_t>> blocks{speechForCodeword(base)};
        for (int bit = 0; bit < 49; ++bit) {
            blocks.insert(speechForCodeword(base ^ (uint64_t{1} << bit)));
        }
        EXPECT_EQ(blocks.size(), 50u) << std::hex << base;
        for (const std::vector<uint8_t>& block : blocks) {
            int peak = 0;
            for (std::size_t i = 0; i < block.size(); i += 2) {
                const auto sample = static_cast<int16_t>((block[i] << 8) | block[i + 1]);
                peak = std::max(peak, std::abs(static_cast<int>(sample)));
            }
            EXPECT_GE(peak, 2000);
        }
    }
}

TEST_F(SimFaults, ALateAnswerArrivesAfterItsTimeouts) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 1, SIM_ANSWER_LATE, 2);
    FT_HANDLE handle = openDevice();
    writeHex(handle, PRODUCT_ID_REQUEST);
    EXPECT_EQ(readHex(handle, 4), "");
    EXPECT_EQ(readHex(handle, 4), "");
    EXPECT_EQ(readHex(handle, 4), "61 00 0c 00");
    // The rest stays queued until a purge discards it.
    EXPECT_EQ(FT_Purge(handle, FT_PURGE_RX), FT_OK);
    EXPECT_EQ(readHex(handle, 4), "");
    EXPECT_EQ(transcriptLinesWith("FT_Read").back(), "EMU30001 FT_Read(4) -> 0 got=0:");
    FT_Close(handle);
}

TEST_F(SimFaults, AFailingPurgeKeepsTheBytes) {
    sim_fail_call(SIM_DEFAULT_SERIAL, "FT_Purge", FT_IO_ERROR, 1);
    FT_HANDLE handle = openDevice();
    writeHex(handle, PRODUCT_ID_REQUEST);
    EXPECT_EQ(FT_Purge(handle, FT_PURGE_RX), FT_IO_ERROR);
    EXPECT_EQ(readAll(handle), PRODUCT_ID_ANSWER);
    EXPECT_EQ(transcriptLinesWith("FT_Purge"),
              std::vector<std::string>{"EMU30001 FT_Purge(1) -> 4"});
    FT_Close(handle);
}

TEST_F(SimFaults, AnswersAreDamagedAsAsked) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 1, SIM_ANSWER_WRONG_START, 0x7F);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 2, SIM_ANSWER_SHORT, 6);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 3, SIM_ANSWER_OVERSIZED, 600);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 4, SIM_ANSWER_MISSING_FIELD, 0);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 5, SIM_ANSWER_NONE, 0);
    const unsigned char raw[] = {0x61, 0x00, 0x00, 0x00};
    sim_answer_raw(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 6, raw, sizeof raw);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_STOP_CODEC, 0, SIM_ANSWER_STATUS, 0xFF);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 0, SIM_ANSWER_MISSING_FIELD, 0);

    FT_HANDLE handle = openDevice();
    const std::string body = std::string(PRODUCT_ID_ANSWER).substr(12);
    const char* const expected[] = {
        "7f 00 0c 00 ", "61 00 0c 00 30 55", "61 02 58 00 ", "61 00 02 00 2f 2d", "",
        "61 00 00 00",  PRODUCT_ID_ANSWER,
    };
    for (const char* answer : expected) {
        writeHex(handle, PRODUCT_ID_REQUEST);
        std::string want = answer;
        if (!want.empty() && want.back() == ' ') {
            want += body;  // the header is damaged, the rest is as usual
        }
        EXPECT_EQ(readAll(handle), want);
    }
    writeHex(handle, "61 00 03 00 2b 2f 07");
    EXPECT_EQ(readAll(handle), "61 00 04 00 2b ff 2f ff");
    writeHex(handle, "61 00 0b 01 01 00 00 00 00 00 00 00 00 2f 24");
    EXPECT_EQ(readAll(handle), "61 00 02 02 2f 2f");
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID), 7);
    FT_Close(handle);
}

TEST_F(SimFaults, AnswersAreRepeatedMisMeasuredOrFollowedAsAsked) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_RESET, 1, SIM_ANSWER_DUPLICATED, 0);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_RESET, 2, SIM_ANSWER_LENGTH, 1);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_RESET, 3, SIM_ANSWER_LENGTH, 0x104);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_RESET, 4, SIM_ANSWER_TRAILING, 3);
    FT_HANDLE handle = openDevice();
    const std::string expected[] = {std::string(RESET_ANSWER) + " " + RESET_ANSWER,
                                    "61 00 01 00 39 2f 15", "61 01 04 00 39 2f 15",
                                    std::string(RESET_ANSWER) + " ee ee ee"};
    for (const std::string& answer : expected) {
        writeHex(handle, RESET_REQUEST);
        EXPECT_EQ(readAll(handle), answer);
    }
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_RESET), 4);
    FT_Close(handle);
}

TEST_F(SimFaults, QueueStatusCountsWhatWaitsToBeRead) {
    sim_fail_call(SIM_DEFAULT_SERIAL, "FT_GetQueueStatus", FT_IO_ERROR, 3);
    FT_HANDLE handle = openDevice();
    EXPECT_EQ(queuedBytes(handle), 0u);
    writeHex(handle, PRODUCT_ID_REQUEST);
    readHex(handle, 4);
    EXPECT_EQ(queuedBytes(handle), 12u);
    DWORD count = 99;
    EXPECT_EQ(FT_GetQueueStatus(handle, &count), FT_IO_ERROR);
    EXPECT_EQ(count, 0u);
    FT_Close(handle);
    EXPECT_EQ(FT_GetQueueStatus(handle, &count), FT_INVALID_HANDLE);
    EXPECT_EQ(transcriptLinesWith("FT_GetQueueStatus"),
              (std::vector<std::string>{"EMU30001 FT_GetQueueStatus() -> 0 queued=0",
                                        "EMU30001 FT_GetQueueStatus() -> 0 queued=12",
                                        "EMU30001 FT_GetQueueStatus() -> 4 queued=0",
                                        "? FT_GetQueueStatus() -> 1 queued=0"}));
}

TEST_F(SimOrder, ALaterAnswerWaitsBehindAHeldOne) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 1, SIM_ANSWER_LATE, 1);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 2, SIM_ANSWER_AFTER_WRITE, 2);
    FT_HANDLE handle = openDevice();
    writeHex(handle, PRODUCT_ID_REQUEST);
    writeHex(handle, RESET_REQUEST);
    EXPECT_EQ(queuedBytes(handle), 0u);
    EXPECT_EQ(readHex(handle, 4), "");
    EXPECT_EQ(readAll(handle), BOTH_ANSWERS);

    writeHex(handle, PRODUCT_ID_REQUEST);
    writeHex(handle, "62 00");  // refused, yet it reached the device
    EXPECT_EQ(readAll(handle), "");
    writeHex(handle, RESET_REQUEST);
    EXPECT_EQ(readAll(handle), BOTH_ANSWERS);
    FT_Close(handle);
}

TEST_F(SimOrder, AnAnswerHeldForAPurgeArrivesRightAfterItUnlessClosed) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID, 0, SIM_ANSWER_AFTER_PURGE, 2);
    sim_fail_call(SIM_DEFAULT_SERIAL, "FT_Purge", FT_IO_ERROR, 2);
    FT_HANDLE handle = openDevice();
    writeHex(handle, PRODUCT_ID_REQUEST);
    writeHex(handle, RESET_REQUEST);
    EXPECT_EQ(readAll(handle), "");
    EXPECT_EQ(FT_Purge(handle, FT_PURGE_RX), FT_OK);
    // Neither a failed purge nor one of the write side counts.
    EXPECT_EQ(FT_Purge(handle, FT_PURGE_RX), FT_IO_ERROR);
    EXPECT_EQ(FT_Purge(handle, FT_PURGE_TX), FT_OK);
    EXPECT_EQ(queuedBytes(handle), 0u);
    EXPECT_EQ(FT_Purge(handle, FT_PURGE_RX | FT_PURGE_TX), FT_OK);
    EXPECT_EQ(readAll(handle), BOTH_ANSWERS);

    writeHex(handle, PRODUCT_ID_REQUEST);
    FT_Close(handle);
    handle = openDevice();
    EXPECT_EQ(FT_Purge(handle, FT_PURGE_RX), FT_OK);
    EXPECT_EQ(FT_Purge(handle, FT_PURGE_RX), FT_OK);
    EXPECT_EQ(readAll(handle), "");
    FT_Close(handle);
}

TEST_F(SimControl, CallCountsAimAFaultAndClearingDropsTheRest) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_RESET, 1, SIM_ANSWER_AFTER_PURGE, 1);
    FT_HANDLE handle = openDevice();
    writeHex(handle, RESET_REQUEST);
    FT_Close(nullptr);  // names no device: counted only over all devices
    EXPECT_EQ(sim_call_count(SIM_DEFAULT_SERIAL, "FT_Close"), 0);
    EXPECT_EQ(sim_call_count(nullptr, "FT_Close"), 1);

    const int writes = sim_call_count(SIM_DEFAULT_SERIAL, "FT_Write");
    EXPECT_EQ(writes, 1);
    sim_fail_call(SIM_DEFAULT_SERIAL, "FT_Write", FT_IO_ERROR, writes + 1);
    sim_fault_answer(nullptr, SIM_REQ_PRODUCT_ID, 0, SIM_ANSWER_NONE, 0);
    sim_short_write(nullptr, 0, 1);
    sim_fail_call(nullptr, "FT_Read", FT_IO_ERROR, 0);
    std::vector<uint8_t> bytes = hexBytes(PRODUCT_ID_REQUEST);
    DWORD written = 0;
    EXPECT_EQ(FT_Write(handle, bytes.data(), 7, &written), FT_IO_ERROR);

    sim_clear_faults();
    EXPECT_EQ(writeHex(handle, PRODUCT_ID_REQUEST), 7u);
    // The reset answer was already on its way: it stays held, and the new answer waits behind.
    EXPECT_EQ(readAll(handle), "");
    EXPECT_EQ(FT_Purge(handle, FT_PURGE_RX), FT_OK);
    EXPECT_EQ(readAll(handle), std::string(RESET_ANSWER) + " " + PRODUCT_ID_ANSWER);
    FT_Close(handle);
}

TEST_F(SimFaults, CallsFailOnTheChosenOccurrenceAndDevice) {
    sim_add_device(SIM_USB3000_ID, "EMU30002", "second");
    sim_fail_call("EMU30002", "FT_Write", FT_IO_ERROR, 2);
    sim_fail_call(nullptr, "FT_SetBaudRate", FT_INVALID_BAUD_RATE, 0);
    FT_HANDLE first = openDevice();
    FT_HANDLE second = openDevice("EMU30002");
    EXPECT_EQ(FT_SetBaudRate(first, 460800), FT_INVALID_BAUD_RATE);
    EXPECT_EQ(FT_SetBaudRate(second, 460800), FT_INVALID_BAUD_RATE);

    writeHex(first, PRODUCT_ID_REQUEST);
    writeHex(first, PRODUCT_ID_REQUEST);
    writeHex(second, PRODUCT_ID_REQUEST);
    std::vector<uint8_t> bytes = hexBytes(PRODUCT_ID_REQUEST);
    DWORD written = 99;
    EXPECT_EQ(FT_Write(second, bytes.data(), 7, &written), FT_IO_ERROR);
    EXPECT_EQ(written, 0u);
    // The failed write never reached the device.
    EXPECT_EQ(sim_request_count("EMU30002", SIM_REQ_PRODUCT_ID), 1);
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID), 2);
    EXPECT_EQ(sim_request_count(nullptr, SIM_REQ_PRODUCT_ID), 3);
    EXPECT_EQ(transcriptLinesWith("EMU30002 FT_Write").back(),
              "EMU30002 FT_Write(7: 61 00 03 00 30 2f 1c) -> 4 written=0");
    FT_Close(first);
    FT_Close(second);
}

TEST_F(SimTranscript, RecordingCanBeSwitchedOffAndTheCopyIsCut) {
    sim_record_transcript(0);
    FT_HANDLE handle = openDevice();
    writeHex(handle, PRODUCT_ID_REQUEST);
    EXPECT_EQ(sim_transcript(nullptr, 0), 0u);
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID), 1);

    sim_record_transcript(1);
    readHex(handle, 4);
    const std::string line = "EMU30001 FT_Read(4) -> 0 got=4: 61 00 0c 00\n";
    char buffer[10];
    EXPECT_EQ(sim_transcript(buffer, sizeof buffer), line.size());
    EXPECT_STREQ(buffer, line.substr(0, 9).c_str());
    sim_clear_transcript();
    EXPECT_EQ(sim_transcript(nullptr, 0), 0u);
    FT_Close(handle);
}

using SimPacing = SimTest;

TEST_F(SimPacing, AnExchangeTakesTheLinesTime) {
    sim_set_paced(1);
    FT_HANDLE handle = openDevice();
    FT_SetBaudRate(handle, 460800);
    FT_SetLatencyTimer(handle, 4);
    FT_SetTimeouts(handle, 20, 100);
    const auto start = std::chrono::steady_clock::now();
    writeHex(handle, PRODUCT_ID_REQUEST);
    readHex(handle, 4);
    readHex(handle, 12);
    // 23 bytes at 46,080 bytes a second (about 0.5 ms), plus the 4 ms latency timer.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(4400));
    // A read that finds nothing waits out its time-out.
    const auto idle = std::chrono::steady_clock::now();
    readHex(handle, 4);
    EXPECT_GE(std::chrono::steady_clock::now() - idle, std::chrono::milliseconds(20));
    FT_Close(handle);
    sim_set_paced(0);
}

}  // namespace
