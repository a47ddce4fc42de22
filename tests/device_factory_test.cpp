// Enumeration with USB3K_SERIAL: one device per process. The emulator lives in this process, so
// two device lists here stand for two processes: a device one of them holds open cannot be
// opened by the other, as with a real FTDI chip.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "device/usb3k_factory.h"
#include "sim_test_support.h"

namespace {

using Lines = std::vector<std::string>;

class OneDevicePerProcess : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        sim_add_device(SIM_USB3000_ID, "EMU30002", "USB-3000 (emulated)");
    }
    void TearDown() override { putEnvironment("USB3K_SERIAL="); }

    std::unique_ptr<USB3KFactory> make(Lines& lines) {
        std::unique_ptr<USB3KFactory> factory;
        lines = stderrLinesOf([&] { factory = std::make_unique<USB3KFactory>(); });
        return factory;
    }
};

TEST_F(OneDevicePerProcess, WithoutASerialTheFirstProcessHoldsEveryDevice) {
    Lines lines;
    const std::unique_ptr<USB3KFactory> first = make(lines);
    EXPECT_EQ(first->size(), 2u);
    const std::unique_ptr<USB3KFactory> second = make(lines);
    ASSERT_EQ(second->size(), 2u);
    EXPECT_FALSE(second->at(0)->ready);
    EXPECT_FALSE(second->at(1)->ready);
    EXPECT_EQ(lines,
              (Lines{"USB3K::USB3K - FT_OpenEx failed: 3", "USB3K::USB3K - FT_OpenEx failed: 3"}));
}

TEST_F(OneDevicePerProcess, EachProcessOpensOnlyTheDeviceItNames) {
    Lines lines;
    putEnvironment("USB3K_SERIAL=EMU30002");
    const std::unique_ptr<USB3KFactory> first = make(lines);
    EXPECT_EQ(lines, Lines{});
    ASSERT_EQ(first->size(), 1u);
    EXPECT_EQ(first->at(0)->serialNumber, "EMU30002");

    putEnvironment("USB3K_SERIAL=EMU30001");
    const std::unique_ptr<USB3KFactory> second = make(lines);
    EXPECT_EQ(lines, Lines{});
    ASSERT_EQ(second->size(), 1u);
    EXPECT_EQ(second->at(0)->serialNumber, "EMU30001");
    EXPECT_TRUE(first->at(0)->ready && second->at(0)->ready);
    EXPECT_EQ(sim_open_handles(), 2);
}

TEST_F(OneDevicePerProcess, AnUnknownSerialIsNamed) {
    Lines lines;
    putEnvironment("USB3K_SERIAL=NOSUCH01");
    EXPECT_EQ(make(lines)->size(), 0u);
    EXPECT_EQ(lines, Lines{"USB3KFactory::USB3KFactory - no USB-3000 with serial number NOSUCH01 "
                           "(USB3K_SERIAL)"});
    EXPECT_EQ(sim_open_handles(), 0);
}

}  // namespace
