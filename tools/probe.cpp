#include "tools/probe.h"

#include <cstdlib>

#include "d2xx/d2xx_api.h"
#include "device/device_list.h"
#include "device/failure_advice.h"
#include "device/usb3k_factory.h"
#include "tools/device_check.h"
#include "tools/device_table.h"
#include "tools/open_failure.h"
#include "tools/probe_options.h"
#include "tools/report_line.h"
#include "tools/server_probe.h"

namespace {

constexpr const char* VERSION_LINE = "usb3k-probe " USB3K_VERSION;

// The library reads USB3K_TRACE when a device is made. putenv keeps the pointer, so the text
// lives as long as the process.
void turnWireTraceOn() {
    static char setting[] = "USB3K_TRACE=1";
    putenv(setting);
}

// The USB-3000s of the list the options ask for, in list order.
std::vector<const FT_DEVICE_LIST_INFO_NODE*> chosenUsb3000s(const DeviceListReading& list,
                                                            const ProbeOptions& options) {
    std::vector<const FT_DEVICE_LIST_INFO_NODE*> chosen;
    for (const FT_DEVICE_LIST_INFO_NODE& entry : list.entries) {
        if (isUsb3000(entry) &&
            (options.serialNumber.empty() || serialNumberOf(entry) == options.serialNumber)) {
            chosen.push_back(&entry);
        }
    }
    return chosen;
}

int usageError(const std::string& error, std::ostream& out) {
    reportLine(out, "usb3k-probe: " + error);
    reportLine(out, probeSynopsis());
    return PROBE_USAGE;
}

// A usb3k-server instead of this machine's devices, where this build has the server's network
// side.
int probeServerOrRefuse(const ProbeOptions& options, std::ostream& out) {
#ifdef USB3K_PROBE_SERVER
    ServerProbe server;
    std::string error;
    if (!prepareServerProbe(options, server, error)) {
        return usageError(error, out);
    }
    reportLine(out, VERSION_LINE);
    return probeServer(server, out);
#else
    (void)options;
    return usageError("this build has no server support (--server)", out);
#endif
}

int probe(const ProbeOptions& options, std::ostream& out) {
    if (options.trace) {
        turnWireTraceOn();
    }
    reportLine(out, VERSION_LINE);
    std::string reason;
    if (!loadD2xx(reason)) {
        reportLine(out, "D2XX: not loaded: " + reason);
        reportLine(out, "to fix: " + adviceFor(Trouble::NoD2xxLibrary, "", PROBE_AGAIN).fix);
        return PROBE_NO_D2XX;
    }
    reportLine(
        out, d2xxIsEmulator() ? "D2XX: the usb3k emulator (not hardware)" : "D2XX: FTDI's driver");
    if (options.serialFromEnvironment) {
        reportLine(out, std::string(SERIAL_VARIABLE) + "=" + options.serialNumber +
                            ": only that USB-3000 is probed");
    }
    reportLine(out, "");

    const DeviceListReading list = readDeviceList();
    writeDeviceTable(list, out);
    const std::vector<const FT_DEVICE_LIST_INFO_NODE*> chosen = chosenUsb3000s(list, options);
    if (chosen.empty()) {
        reportLine(out, "");
        reportLine(out, options.serialNumber.empty()
                            ? "no USB-3000 found"
                            : "no USB-3000 with serial number " + options.serialNumber);
        return PROBE_NO_USB3000;
    }
    bool allFine = true;
    for (const FT_DEVICE_LIST_INFO_NODE* entry : chosen) {
        allFine = checkUsb3000(*entry, options.frames, out) && allFine;
    }
    return allFine ? PROBE_OK : PROBE_DEVICE_FAILED;
}

}  // namespace

int runProbe(const std::vector<std::string>& args, std::ostream& out) {
    // The probe follows the variable the library reads, so that it checks the device the
    // application would use.
    const ProbeOptions options = parseProbeOptions(args, std::getenv(SERIAL_VARIABLE));
    switch (options.action) {
        case ProbeOptions::Action::Help:
            out << probeUsage() << std::flush;
            return PROBE_OK;
        case ProbeOptions::Action::Version:
            reportLine(out, VERSION_LINE);
            return PROBE_OK;
        case ProbeOptions::Action::UsageError:
            return usageError(options.error, out);
        case ProbeOptions::Action::Probe:
            break;
    }
    return options.server.empty() ? probe(options, out) : probeServerOrRefuse(options, out);
}
