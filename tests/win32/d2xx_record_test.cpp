// The D2XX device record as FTDI's Windows driver lays it out: 100 bytes, 4-byte aligned, on
// 32-bit Windows; 104 bytes, 8-byte aligned, on 64-bit Windows, where the handle takes 8 bytes and
// ULONG and DWORD stay 4. The library reads the array FT_GetDeviceInfoList fills straight into
// these records, so a different layout would shift every serial number it opens by.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "d2xx/d2xx.h"
#include "sim/usb3k_sim.h"

namespace {

#ifdef _WIN64
constexpr std::size_t kRecordSize = 104;
#else
constexpr std::size_t kRecordSize = 100;
#endif

TEST(D2xxRecord, HasTheDriversSizeAndOffsets) {
    EXPECT_EQ(sizeof(FT_DEVICE_LIST_INFO_NODE), kRecordSize);
    EXPECT_EQ(offsetof(FT_DEVICE_LIST_INFO_NODE, Flags), 0u);
    EXPECT_EQ(offsetof(FT_DEVICE_LIST_INFO_NODE, Type), 4u);
    EXPECT_EQ(offsetof(FT_DEVICE_LIST_INFO_NODE, ID), 8u);
    EXPECT_EQ(offsetof(FT_DEVICE_LIST_INFO_NODE, LocId), 12u);
    EXPECT_EQ(offsetof(FT_DEVICE_LIST_INFO_NODE, SerialNumber), 16u);
    EXPECT_EQ(offsetof(FT_DEVICE_LIST_INFO_NODE, Description), 32u);
    EXPECT_EQ(offsetof(FT_DEVICE_LIST_INFO_NODE, ftHandle), 96u);
    EXPECT_EQ(sizeof(DWORD), 4u);
    EXPECT_EQ(sizeof(ULONG), 4u);
    EXPECT_EQ(sizeof(FT_STATUS), 4u);
}

uint32_t littleEndianAt(const unsigned char* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
           uint32_t{bytes[3]} << 24;
}

// Read back as raw bytes at the driver's offsets, not through the struct: the second record
// must start kRecordSize bytes after the first.
TEST(D2xxRecord, TheListIsFilledAtTheDriversOffsets) {
    sim_reset();
    ASSERT_EQ(sim_add_device(0x04036001u, "SECOND02", "Second device"), 1);
    DWORD count = 0;
    ASSERT_EQ(FT_CreateDeviceInfoList(&count), static_cast<FT_STATUS>(FT_OK));
    ASSERT_EQ(count, 2u);

    alignas(8) unsigned char raw[2 * kRecordSize + 16];
    std::memset(raw, 0xCC, sizeof raw);
    ASSERT_EQ(FT_GetDeviceInfoList(reinterpret_cast<FT_DEVICE_LIST_INFO_NODE*>(raw), &count),
              static_cast<FT_STATUS>(FT_OK));
    ASSERT_EQ(count, 2u);

    EXPECT_EQ(littleEndianAt(raw + 8), SIM_USB3000_ID);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw + 16)), SIM_DEFAULT_SERIAL);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw + 32)), "USB-3000 (emulated)");
    EXPECT_EQ(littleEndianAt(raw + kRecordSize + 8), 0x04036001u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw + kRecordSize + 16)), "SECOND02");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(raw + kRecordSize + 32)), "Second device");
    // Nothing past the two records.
    for (std::size_t i = 2 * kRecordSize; i < sizeof raw; ++i) {
        EXPECT_EQ(raw[i], 0xCC) << "byte " << i;
    }
}

}  // namespace
