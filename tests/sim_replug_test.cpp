// A device that comes and goes, seen through the D2XX calls: unplugged at a request, gone from
// the list, its handle failing as FTDI's driver fails it, back with a new location ID, refusing
// opens while the driver binds, waiting for a reset, and hanging.
#include <gtest/gtest.h>

#include "bytes.h"
#include "d2xx/d2xx.h"
#include "sim_test_support.h"

namespace {

const char* const PLAIN_CHANNEL_REQUEST = "61 00 0b 01 01 91 a2 b3 c4 d5 e6 80 00 2f d3";
const char* const RESET_REQUEST = "61 00 03 00 33 2f 1f";
const char* const RESET_ANSWER = "61 00 03 00 39 2f 15";
char serial[] = SIM_DEFAULT_SERIAL;

// What one request gets: its answer as hex text, or "" when none comes.
std::string exchange(FT_HANDLE handle, const char* request) {
    std::vector<uint8_t> bytes = hexBytes(request);
    DWORD count = 0;
    EXPECT_EQ(FT_Write(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &count), FT_OK);
    bytes.assign(1024, 0);
    EXPECT_EQ(FT_Read(handle, bytes.data(), 1024, &count), FT_OK);
    bytes.resize(count);
    return hexText(bytes);
}

DWORD listed() {
    DWORD count = 99;
    EXPECT_EQ(FT_CreateDeviceInfoList(&count), FT_OK);
    return count;
}

using SimReplug = SimTest;

TEST_F(SimReplug, UnpluggedAtARequestTheDeviceReturnsAsAFreshlyPoweredOne) {
    sim_set_removed_handle_status(FT_IO_ERROR);
    sim_refuse_opens_after_replug(serial, 2, FT_DEVICE_NOT_FOUND);
    sim_needs_reset_after_replug(serial, 1);
    sim_fault_answer(serial, SIM_REQ_CHANNEL, 2, SIM_DEVICE_UNPLUGGED, 0);
    const std::string speech = hexText(speechForCodeword(0x123456789ABCDull));
    FT_HANDLE old = nullptr;
    ASSERT_EQ(FT_OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &old), FT_OK);
    EXPECT_EQ(sim_location_id(serial), 0x11u);
    EXPECT_EQ(exchange(old, PLAIN_CHANNEL_REQUEST).substr(18, 320 * 3 - 1), speech);

    // The second frame's request is lost with the device: every call on its handle fails.
    uint8_t byte = 0;
    DWORD count = 0;
    ASSERT_EQ(FT_Write(old, hexBytes(PLAIN_CHANNEL_REQUEST).data(), 15, &count), FT_OK);
    EXPECT_EQ(FT_Read(old, &byte, 1, &count), FT_IO_ERROR);
    EXPECT_EQ(FT_Write(old, &byte, 1, &count), FT_IO_ERROR);
    EXPECT_EQ(FT_GetQueueStatus(old, &count), FT_IO_ERROR);
    EXPECT_EQ(listed(), 0u);
    EXPECT_EQ(FT_OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &old), FT_DEVICE_NOT_FOUND);

    // Back at the second list call, elsewhere on the bus; the old handle stays dead until closed.
    sim_clear_faults();  // request counts start again after the re-plug
    ASSERT_EQ(sim_replug_at_list_call(serial, 2), 1);
    EXPECT_EQ(listed(), 0u);
    EXPECT_EQ(listed(), 1u);
    FT_DEVICE_LIST_INFO_NODE record{};
    count = 1;
    ASSERT_EQ(FT_GetDeviceInfoList(&record, &count), FT_OK);
    EXPECT_NE(record.LocId, 0x11u);
    EXPECT_EQ(record.LocId, sim_location_id(serial));
    EXPECT_EQ(FT_Read(old, &byte, 1, &count), FT_IO_ERROR);
    EXPECT_EQ(FT_Close(old), FT_OK);
    EXPECT_EQ(FT_Close(old), FT_INVALID_HANDLE);

    // The driver refuses two opens, then a new handle: no channel request is answered before a
    // reset, then the device decodes again.
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(FT_OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FT_OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);
    ASSERT_EQ(FT_OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_OK);
    EXPECT_NE(handle, old);
    EXPECT_EQ(exchange(handle, PLAIN_CHANNEL_REQUEST), "");
    EXPECT_EQ(transcriptLinesWith("sim: channel request before a reset").size(), 1u);
    EXPECT_EQ(exchange(handle, RESET_REQUEST), RESET_ANSWER);
    EXPECT_EQ(exchange(handle, PLAIN_CHANNEL_REQUEST).substr(18, 320 * 3 - 1), speech);

    // Hung until a reset: nothing answered, the reset is, and decoding goes on.
    sim_fault_answer(serial, SIM_REQ_CHANNEL, 3, SIM_DEVICE_HANGS_UNTIL_RESET, 0);
    EXPECT_EQ(exchange(handle, PLAIN_CHANNEL_REQUEST), "");
    EXPECT_EQ(exchange(handle, PLAIN_CHANNEL_REQUEST), "");
    EXPECT_EQ(exchange(handle, RESET_REQUEST), RESET_ANSWER);
    EXPECT_EQ(exchange(handle, PLAIN_CHANNEL_REQUEST).substr(18, 320 * 3 - 1), speech);

    // Hung for good while listed: not even a reset helps; an unplug after a time and the
    // re-plug that follows it do.
    sim_fault_answer(serial, SIM_REQ_CHANNEL, 6, SIM_DEVICE_HANGS, 0);
    EXPECT_EQ(exchange(handle, PLAIN_CHANNEL_REQUEST), "");
    EXPECT_EQ(exchange(handle, RESET_REQUEST), "");
    EXPECT_EQ(listed(), 1u);
    ASSERT_EQ(sim_unplug_after_us(serial, 1000, 5000), 1);
    sim_advance_us(serial, 1000);
    EXPECT_EQ(listed(), 0u);
    sim_advance_us(serial, 5000);
    EXPECT_EQ(listed(), 1u);
    EXPECT_EQ(FT_Close(handle), FT_OK);
}

}  // namespace
