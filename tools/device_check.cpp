#include "tools/device_check.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "d2xx/d2xx_api.h"
#include "device/command_result.h"
#include "device/device_list.h"
#include "device/frame_packing.h"
#include "device/link_settings.h"
#include "device/usb3k.h"
#include "packet/packet_constants.h"
#include "tools/d2xx_status_text.h"
#include "tools/open_failure.h"
#include "tools/probe_frame.h"
#include "tools/report_line.h"

namespace {

struct Command {
    const char* name;
    int32_t (USB3K::*run)();
};

constexpr Command COMMANDS[] = {
    {"reset", &USB3K::reset},
    {"stop codec", &USB3K::stopCodec},
    {"rate table 34", &USB3K::setRate},
};

// D2XX's answer to opening the device, which the library's own line gives only as a number and
// with no cause. The handle is closed again at once, leaving the device to the library.
FT_STATUS openStatus(const std::string& serialNumber) {
    FT_HANDLE handle = nullptr;
    const FT_STATUS status =
        d2xx().openEx(const_cast<char*>(serialNumber.c_str()), FT_OPEN_BY_SERIAL_NUMBER, &handle);
    if (status == FT_OK) {
        d2xx().close(handle);
    }
    return status;
}

std::string commandResultText(int32_t result) {
    switch (result) {
        case COMMAND_ACCEPTED:
            return "ok";
        case COMMAND_NOT_READY:
            return "failed: COMMAND_NOT_READY (the device is not ready)";
        case COMMAND_NOT_SENT:
            return "failed: COMMAND_NOT_SENT (the request could not be sent)";
        case COMMAND_NO_RESPONSE:
            return "failed: COMMAND_NO_RESPONSE (no usable answer was received)";
        case COMMAND_NO_FIELD:
            return "failed: COMMAND_NO_FIELD (the answer lacks the field the command looks up)";
        default:
            return "refused: device status " + std::to_string(result);
    }
}

std::string milliseconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", value);
    return text;
}

// "20 frames, round trip min 0.004 ms, median 0.005 ms, max 0.012 ms, 190476 frames/s" from the
// round trips in milliseconds; the rate counts the exchanges' own time.
std::string timingText(std::vector<double> roundTrips) {
    std::sort(roundTrips.begin(), roundTrips.end());
    const std::size_t count = roundTrips.size();
    const double median = count % 2 == 1 ? roundTrips[count / 2]
                                         : (roundTrips[count / 2 - 1] + roundTrips[count / 2]) / 2;
    double total = 0;
    for (double roundTrip : roundTrips) {
        total += roundTrip;
    }
    const long long perSecond = total > 0 ? static_cast<long long>(count * 1000.0 / total) : 0;
    return std::to_string(count) + " frames, round trip min " + milliseconds(roundTrips.front()) +
           ", median " + milliseconds(median) + ", max " + milliseconds(roundTrips.back()) + ", " +
           std::to_string(perSecond) + " frames/s";
}

// Decodes `frames` frames, one decodeFrames call each so that every exchange is timed alone, and
// writes the times; false at the first frame that fails.
bool timeDecoding(USB3K& device, unsigned frames, std::ostream& out) {
    std::vector<uint8_t> speech(SPEECH_BLOCK_SIZE);
    std::vector<double> roundTrips;
    for (unsigned i = 0; i < frames; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const std::size_t decoded = device.decodeFrames(PROBE_FRAME, 1, speech.data());
        const auto end = std::chrono::steady_clock::now();
        if (decoded != 1) {
            reportLine(out, "  decode: failed at frame " + std::to_string(i + 1) + " of " +
                                std::to_string(frames));
            return false;
        }
        roundTrips.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    reportLine(out, "  decode: " + timingText(roundTrips));
    return true;
}

// Identification, the commands and the decodes on an opened device; true when all succeeded.
bool exercise(USB3K& device, unsigned frames, std::ostream& out) {
    reportLine(out, "  latency timer: " + std::to_string(device.latencyTimer()) + " ms (" +
                        LATENCY_TIMER_VARIABLE + ", 1 to 16)");
    reportLine(out, "  product ID: " + (device.productId.empty() ? "(none)" : device.productId));
    reportLine(out, "  version: " + (device.version.empty() ? "(none)" : device.version));
    if (!device.ready) {
        reportLine(out, "  not ready: the device was not configured or did not identify itself");
        return false;
    }
    bool fine = true;
    for (const Command& command : COMMANDS) {
        const int32_t result = (device.*command.run)();
        reportLine(out, std::string("  ") + command.name + ": " + commandResultText(result));
        fine = fine && result == COMMAND_ACCEPTED;
    }
    return timeDecoding(device, frames, out) && fine;
}

}  // namespace

bool checkUsb3000(const FT_DEVICE_LIST_INFO_NODE& entry, unsigned frames, std::ostream& out) {
    const std::string serialNumber = serialNumberOf(entry);
    reportLine(out, "");
    reportLine(out, "USB-3000 " + serialNumber);
    const FT_STATUS opened = openStatus(serialNumber);
    reportLine(out, opened == FT_OK
                        ? "  open: ok"
                        : "  open: failed: FT_OpenEx returned " + d2xxStatusText(opened));
    // Made even when the open failed, so that the library's own lines are in the report.
    bool fine = false;
    {
        USB3K device(serialNumber);
        if (opened == FT_OK) {
            fine = exercise(device, frames, out);
        }
    }
    if (opened != FT_OK) {
        reportLine(out, "  likely cause: " + openFailureCause(entry, opened));
    }
    reportLine(out, fine ? "  result: ok" : "  result: failed");
    return fine;
}
