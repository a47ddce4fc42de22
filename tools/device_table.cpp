#include "tools/device_table.h"

#include <cstddef>
#include <cstdio>
#include <string>

#include "device/device_flags.h"
#include "tools/d2xx_status_text.h"
#include "tools/report_line.h"
#include "tools/table_row.h"

namespace {

// The columns' widths, the space before the next column included: #, USB-3000, flags, type, ID,
// location, serial number. The description comes last and is not padded.
constexpr std::size_t WIDTHS[] = {3, 10, 26, 6, 12, 12, 18};
constexpr std::size_t WIDTH_COUNT = sizeof WIDTHS / sizeof WIDTHS[0];

std::string hex(unsigned long value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%0*lx", digits, value);
    return text;
}

// "0x3 (opened, high-speed)"; other bits show only in the number.
std::string flagsText(ULONG flags) {
    std::string names;
    if ((flags & DEVICE_FLAG_OPENED) != 0) {
        names = "opened";
    }
    if ((flags & DEVICE_FLAG_HIGH_SPEED) != 0) {
        names += names.empty() ? "high-speed" : ", high-speed";
    }
    return hex(flags, 1) + (names.empty() ? "" : " (" + names + ")");
}

}  // namespace

void writeDeviceTable(const DeviceListReading& list, std::ostream& out) {
    switch (list.outcome) {
        case DeviceListReading::Outcome::CountFailed:
            reportLine(out, "FTDI devices: FT_CreateDeviceInfoList failed: " +
                                d2xxStatusText(list.status));
            return;
        case DeviceListReading::Outcome::ListFailed:
            reportLine(out,
                       "FTDI devices: FT_GetDeviceInfoList failed: " + d2xxStatusText(list.status));
            return;
        case DeviceListReading::Outcome::NoDevices:
            reportLine(out, "FTDI devices: none");
            return;
        case DeviceListReading::Outcome::Listed:
            break;
    }
    reportLine(out, "FTDI devices: " + std::to_string(list.entries.size()));
    reportLine(
        out, tableRow({"#", "USB-3000", "flags", "type", "ID", "location", "serial", "description"},
                      WIDTHS, WIDTH_COUNT));
    for (std::size_t i = 0; i < list.entries.size(); ++i) {
        const FT_DEVICE_LIST_INFO_NODE& entry = list.entries[i];
        reportLine(out,
                   tableRow({std::to_string(i), isUsb3000(entry) ? "yes" : "no",
                             flagsText(entry.Flags), std::to_string(entry.Type), hex(entry.ID, 8),
                             hex(entry.LocId, 1), serialNumberOf(entry), descriptionOf(entry)},
                            WIDTHS, WIDTH_COUNT));
    }
}
