// usb3k-probe run in-process over the emulator: the report's exact lines, the library's lines
// beside them, and the exit status for a good device, faulty ones, a choice of device and wrong
// usage.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "device/ftdi_sio.h"
#include "device/usb3k.h"
#include "sim_test_support.h"
#include "tools/probe.h"
#include "tools/probe_options.h"

namespace {

using Lines = std::vector<std::string>;

const std::string VERSION_LINE = std::string("usb3k-probe ") + USB3K_VERSION;
const std::string SYNOPSIS =
    "usage: usb3k-probe [--serial S] [--frames N] [--trace] [-h | --help] [--version]";
const std::string HEADING =
    "  #  USB-3000  flags                     type  ID          location    serial            "
    "description";

// The default device's row, with its flags as the table shows them.
std::string defaultRow(const std::string& flags) {
    return "  0  yes       " + flags + std::string(26 - flags.size(), ' ') +
           "5     0x04036001  0x11        EMU30001          USB-3000 (emulated)";
}

struct ProbeRun {
    int status = -1;
    Lines out;
    Lines err;
};

ProbeRun probeWith(const Lines& args) {
    ProbeRun run;
    std::ostringstream out;
    run.err = stderrLinesOf([&] { run.status = runProbe(args, out); });
    run.out = splitLines(out.str());
    return run;
}

Lines lastLines(const Lines& lines, std::size_t count) {
    return Lines(lines.end() - static_cast<std::ptrdiff_t>(std::min(count, lines.size())),
                 lines.end());
}

class ProbeTest : public SimTest {
  protected:
    void TearDown() override {
        static char traceOff[] = "USB3K_TRACE=";
        putenv(traceOff);
        static char serialOff[] = "USB3K_SERIAL=";
        putenv(serialOff);
    }
};

const char* const LATENCY = "  latency timer: 4 ms (USB3K_LATENCY_TIMER_MS, 1 to 16)";

TEST_F(ProbeTest, AGoodDeviceIsListedIdentifiedCommandedAndTimed) {
    const ProbeRun run = probeWith({"--frames", "5"});
    EXPECT_EQ(run.status, PROBE_OK);
    EXPECT_EQ(run.err, Lines{});
    ASSERT_EQ(run.out.size(), 17u);
    EXPECT_EQ(Lines(run.out.begin(), run.out.begin() + 15),
              (Lines{VERSION_LINE, "D2XX: the usb3k emulator (not hardware)", "", "FTDI devices: 1",
                     HEADING, defaultRow("0x0"), "", "USB-3000 EMU30001", "  open: ok", LATENCY,
                     "  product ID: USB-3000", "  version: 2.7.1-emu", "  reset: ok",
                     "  stop codec: ok", "  rate table 34: ok"}));
    // Virtual time: the figures are the library's own cost, near zero; only their form and order
    // are checked.
    int frames = 0;
    double min = -1, median = -1, max = -1, perSecond = -1;
    ASSERT_EQ(std::sscanf(run.out[15].c_str(),
                          "  decode: %d frames, round trip min %lf ms, median %lf ms, max %lf ms, "
                          "%lf frames/s",
                          &frames, &min, &median, &max, &perSecond),
              5)
        << run.out[14];
    EXPECT_EQ(frames, 5);
    EXPECT_TRUE(0 <= min && min <= median && median <= max && perSecond > 0) << run.out[15];
    EXPECT_EQ(run.out[16], "  result: ok");
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL), 5);
    EXPECT_EQ(sim_open_handles(), 0);
}

TEST_F(ProbeTest, AFailedOpenGetsItsLikelyCause) {
    sim_fail_call(SIM_DEFAULT_SERIAL, "FT_OpenEx", FT_DEVICE_NOT_OPENED, 0);
    const ProbeRun run = probeWith({});
    EXPECT_EQ(run.status, PROBE_DEVICE_FAILED);
    EXPECT_EQ(run.err, Lines{"USB3K::USB3K - FT_OpenEx failed: 3"});
    // Where Linux's ftdi_sio driver exists it is the likely cause; no interface of it is bound to
    // an emulated device, so the fix asks for the bus path.
    const std::string cause =
        systemHasFtdiSio()
            ? "the kernel's ftdi_sio driver holds the chip while it is bound to it; fix: sudo "
              "rmmod "
              "ftdi_sio usbserial, or unbind only this device: echo <bus path> | sudo tee "
              "/sys/bus/usb/drivers/ftdi_sio/unbind"
            : "not known; unplug the device, plug it in again and probe again";
    EXPECT_EQ(
        lastLines(run.out, 4),
        (Lines{"USB-3000 EMU30001", "  open: failed: FT_OpenEx returned 3 (FT_DEVICE_NOT_OPENED)",
               "  likely cause: " + cause, "  result: failed"}));
}

TEST_F(ProbeTest, ADeviceOpenInAnotherProcessIsFlaggedAndNamedAsTheCause) {
    // The emulator lives in this process: a device held here stands for one held by another.
    const USB3K elsewhere(SIM_DEFAULT_SERIAL);
    const ProbeRun run = probeWith({});
    EXPECT_EQ(run.status, PROBE_DEVICE_FAILED);
    EXPECT_EQ(run.out[5], defaultRow("0x1 (opened)"));
    EXPECT_EQ(lastLines(run.out, 2),
              (Lines{"  likely cause: another process has the device open (D2XX lists it as "
                     "opened); close that program, then probe again",
                     "  result: failed"}));
}

TEST_F(ProbeTest, ADeviceThatDoesNotIdentifyItselfIsNotReady) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_VERSION, 1, SIM_ANSWER_NONE, 0);
    const ProbeRun run = probeWith({});
    EXPECT_EQ(run.status, PROBE_DEVICE_FAILED);
    EXPECT_EQ(run.err,
              (Lines{"USB3K::receivePacket - failed to read packet header: wanted 4, got 0",
                     "USB3K::USB3K - did not receive version response"}));
    EXPECT_EQ(lastLines(run.out, 6),
              (Lines{"  open: ok", LATENCY, "  product ID: USB-3000", "  version: (none)",
                     "  not ready: the device was not configured or did not identify itself",
                     "  result: failed"}));
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_RESET), 0);
}

TEST_F(ProbeTest, EachCommandAndTheDecodingReportTheirOwnFailure) {
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_RESET, 1, SIM_ANSWER_NONE, 0);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_RATE, 1, SIM_ANSWER_STATUS, 3);
    sim_fault_answer(SIM_DEFAULT_SERIAL, SIM_REQ_CHANNEL, 2, SIM_ANSWER_NONE, 0);
    const ProbeRun run = probeWith({"--frames", "3"});
    EXPECT_EQ(run.status, PROBE_DEVICE_FAILED);
    EXPECT_EQ(lastLines(run.out, 5),
              (Lines{"  reset: failed: COMMAND_NO_RESPONSE (no usable answer was received)",
                     "  stop codec: ok", "  rate table 34: refused: device status 3",
                     "  decode: failed at frame 2 of 3", "  result: failed"}));
    EXPECT_EQ(lastLines(run.err, 1), Lines{"USB3K::decode - did not receive speech response"});
}

TEST_F(ProbeTest, SerialChoosesOneUsb3000AndAnUnknownOneFindsNone) {
    sim_add_device(SIM_USB3000_ID, "EMU30002", "USB-3000 (emulated)");
    ProbeRun run = probeWith({"--serial", "EMU30002", "--frames", "1"});
    EXPECT_EQ(run.status, PROBE_OK);
    EXPECT_EQ(run.out[8], "USB-3000 EMU30002");
    EXPECT_EQ(run.out.size(), 18u);
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID), 0);

    run = probeWith({"--serial", "NOPE"});
    EXPECT_EQ(run.status, PROBE_NO_USB3000);
    EXPECT_EQ(lastLines(run.out, 4),
              (Lines{defaultRow("0x0"),
                     "  1  yes       0x0                       5     0x04036001  0x12        "
                     "EMU30002          USB-3000 (emulated)",
                     "", "no USB-3000 with serial number NOPE"}));
}

TEST_F(ProbeTest, WithoutAUsb3000NothingIsProbed) {
    sim_clear_devices();
    sim_add_device(0x04036015, "FT000001", "Some FTDI cable");
    ProbeRun run = probeWith({});
    EXPECT_EQ(run.status, PROBE_NO_USB3000);
    EXPECT_EQ(lastLines(run.out, 4),
              (Lines{HEADING,
                     "  0  no        0x0                       5     0x04036015  0x11        "
                     "FT000001          Some FTDI cable",
                     "", "no USB-3000 found"}));

    sim_clear_devices();
    run = probeWith({});
    EXPECT_EQ(run.status, PROBE_NO_USB3000);
    EXPECT_EQ(lastLines(run.out, 3), (Lines{"FTDI devices: none", "", "no USB-3000 found"}));
}

TEST_F(ProbeTest, TraceWritesEveryPacketToStandardError) {
    const ProbeRun run = probeWith({"--trace", "--frames", "1"});
    EXPECT_EQ(run.status, PROBE_OK);
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.front(), "usb3k-trace >>: 61 00 03 00 30 2f 1c ");
}

TEST_F(ProbeTest, UsageHelpAndVersion) {
    ProbeRun run = probeWith({"--help"});
    EXPECT_EQ(run.status, PROBE_OK);
    EXPECT_EQ(run.out.front(), SYNOPSIS);
    EXPECT_EQ(probeWith({"-h"}).out, run.out);
    EXPECT_EQ(sim_call_count(nullptr, "FT_CreateDeviceInfoList"), 0);

    run = probeWith({"--version"});
    EXPECT_EQ(run.status, PROBE_OK);
    EXPECT_EQ(run.out, Lines{VERSION_LINE});

    run = probeWith({"--frames", "3", "--bogus"});
    EXPECT_EQ(run.status, PROBE_USAGE);
    EXPECT_EQ(run.out, (Lines{"usb3k-probe: unknown argument '--bogus'", SYNOPSIS}));

    for (const Lines& wrong : {Lines{"--frames", "0"}, Lines{"--frames", "10001"},
                               Lines{"--frames", "2x"}, Lines{"--frames"}, Lines{"--serial", ""}}) {
        EXPECT_EQ(parseProbeOptions(wrong).action, ProbeOptions::Action::UsageError) << wrong[0];
    }
    EXPECT_EQ(parseProbeOptions({"--frames", "10000"}).frames, 10000u);
    EXPECT_EQ(parseProbeOptions({}).frames, 20u);
    const ProbeOptions joined = parseProbeOptions({"--frames=7", "--serial=A=B"});
    EXPECT_EQ(joined.frames, 7u);
    EXPECT_EQ(joined.serialNumber, "A=B");
    EXPECT_EQ(parseProbeOptions({"--frames="}).error,
              "--frames wants a number from 1 to 10000, not ''");
    EXPECT_EQ(parseProbeOptions({"--trace=1"}).error, "unknown argument '--trace=1'");
}

TEST_F(ProbeTest, Usb3kSerialChoosesTheDeviceUnlessSerialNamesAnother) {
    sim_add_device(SIM_USB3000_ID, "EMU30002", "USB-3000 (emulated)");
    static char serial[] = "USB3K_SERIAL=EMU30002";
    putenv(serial);
    ProbeRun run = probeWith({"--frames=1"});
    EXPECT_EQ(run.status, PROBE_OK);
    EXPECT_EQ(run.out[2], "USB3K_SERIAL=EMU30002: only that USB-3000 is probed");
    EXPECT_EQ(run.out[9], "USB-3000 EMU30002");
    EXPECT_EQ(sim_request_count(SIM_DEFAULT_SERIAL, SIM_REQ_PRODUCT_ID), 0);

    run = probeWith({"--serial=EMU30001", "--frames=1"});
    EXPECT_EQ(run.status, PROBE_OK);
    EXPECT_EQ(run.out[2], "");
    EXPECT_EQ(run.out[8], "USB-3000 EMU30001");
}

}  // namespace
