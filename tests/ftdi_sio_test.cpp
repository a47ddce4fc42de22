// Where Linux's ftdi_sio driver holds an FTDI chip, looked up in a sysfs tree of the test's own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "device/failure_advice.h"
#include "device/ftdi_sio.h"

namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

TEST(ProbeFtdiSio, TheBoundInterfaceIsFoundByItsDevicesSerialNumber) {
    const fs::path root = fs::path(testing::TempDir()) / "usb3k_probe_sys";
    fs::remove_all(root);
    const fs::path driver = root / "bus/usb/drivers/ftdi_sio";
    fs::create_directories(driver / "1-1.2:1.0");
    fs::create_directories(driver / "3-2:1.0");
    fs::create_directories(driver / "module");
    writeFile(driver / "unbind", "");
    writeFile(root / "bus/usb/devices/1-1.2/serial", "FT000001\n");
    writeFile(root / "bus/usb/devices/3-2/serial", "EMU30001\n");

    EXPECT_EQ(ftdiSioBusPath(root.string(), "EMU30001"), "3-2:1.0");
    EXPECT_EQ(ftdiSioBusPath(root.string(), "FT000001"), "1-1.2:1.0");
    EXPECT_EQ(ftdiSioBusPath(root.string(), "EMU3000"), "");
    EXPECT_EQ(ftdiSioBusPath(root.string(), ""), "");
    EXPECT_EQ(ftdiSioBusPath((root / "absent").string(), "EMU30001"), "");
    fs::remove_all(root);
}

TEST(ProbeFtdiSio, WithoutABoundInterfaceTheFixAsksForTheBusPath) {
    const Advice advice = adviceFor(Trouble::HeldByFtdiSio, "NOT-ATTACHED-1", "probe again");
    EXPECT_EQ(advice.cause, "the kernel's ftdi_sio driver holds the chip while it is bound to it");
    EXPECT_EQ(advice.fix,
              "sudo rmmod ftdi_sio usbserial, or unbind only this device: echo <bus path> | sudo "
              "tee /sys/bus/usb/drivers/ftdi_sio/unbind");
    EXPECT_TRUE(advice.commands);
}

}  // namespace
