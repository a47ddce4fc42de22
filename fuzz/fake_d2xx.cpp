#include "fuzz/fake_d2xx.h"

#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "d2xx/d2xx.h"
#include "device/usb3000_device.h"
#include "fuzz/fuzz_check.h"

namespace {

constexpr uint8_t FIRST_FAILING_STATUS_BYTE = 0xE0;
// Lists of 0 to 3 devices.
constexpr std::size_t LIST_SIZES = 4;
// An FTDI chip that is not a USB-3000's: another product of the same vendor.
constexpr ULONG OTHER_FTDI_ID = 0x04036010;
constexpr uint8_t RECORD_OTHER_PRODUCT = 0x01;
constexpr uint8_t RECORD_FULL_SERIAL = 0x02;

// What a handle points to: only its address matters.
struct OpenDevice {
    uint8_t unused = 0;
};

struct Script {
    const uint8_t* control = nullptr;
    std::size_t controlLeft = 0;
    const uint8_t* link = nullptr;
    std::size_t linkLeft = 0;
    std::size_t devicesListed = 0;
    std::vector<std::unique_ptr<OpenDevice>> open;

    uint8_t takeControl() {
        if (controlLeft == 0) {
            return 0;
        }
        --controlLeft;
        return *control++;
    }

    FT_STATUS takeStatus() {
        const uint8_t byte = takeControl();
        return byte < FIRST_FAILING_STATUS_BYTE ? FT_OK : byte - FIRST_FAILING_STATUS_BYTE + 1;
    }

    std::size_t takeLink(uint8_t* destination, std::size_t count) {
        count = std::min(count, linkLeft);
        if (destination != nullptr && count > 0) {
            std::memcpy(destination, link, count);
        }
        link += count;
        linkLeft -= count;
        return count;
    }

    bool isOpen(FT_HANDLE handle) const {
        return std::any_of(open.begin(), open.end(),
                           [handle](const auto& device) { return device.get() == handle; });
    }
};

Script script;

// The status of a call on a handle: a null handle is refused as a driver would; any other must
// be one this driver opened and has not closed.
FT_STATUS statusFor(FT_HANDLE handle) {
    if (handle == nullptr) {
        return FT_INVALID_HANDLE;
    }
    FUZZ_CHECK(script.isOpen(handle));
    return script.takeStatus();
}

// The driver reads or writes `count` bytes there: all of them must belong to the caller.
void checkBuffer(const void* buffer, DWORD count) {
    if (count == 0) {
        return;
    }
    FUZZ_CHECK(buffer != nullptr);
    FUZZ_CHECK(__asan_region_is_poisoned(const_cast<void*>(buffer), count) == nullptr);
}

void fillRecord(FT_DEVICE_LIST_INFO_NODE& node, std::size_t index, uint8_t shape) {
    std::memset(&node, 0, sizeof node);
    node.ID = (shape & RECORD_OTHER_PRODUCT) != 0 ? OTHER_FTDI_ID : USB3000_ID;
    node.LocId = static_cast<DWORD>(index + 1);
    if ((shape & RECORD_FULL_SERIAL) != 0) {
        std::memset(node.SerialNumber, 'F', sizeof node.SerialNumber);
        node.SerialNumber[sizeof node.SerialNumber - 1] = static_cast<char>('1' + index);
    } else {
        std::snprintf(node.SerialNumber, sizeof node.SerialNumber, "FUZZ%04zu", index + 1);
    }
    std::snprintf(node.Description, sizeof node.Description, "USB-3000 %zu", index + 1);
}

}  // namespace

namespace fake_d2xx {

void startScript(const uint8_t* data, std::size_t size) {
    script = Script();
    if (size == 0) {
        return;
    }
    script.controlLeft = std::min<std::size_t>(data[0], size - 1);
    script.control = data + 1;
    script.link = script.control + script.controlLeft;
    script.linkLeft = size - 1 - script.controlLeft;
}

std::size_t openHandleCount() {
    return script.open.size();
}

}  // namespace fake_d2xx

FT_STATUS WINAPI FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs) {
    FUZZ_CHECK(lpdwNumDevs != nullptr);
    const FT_STATUS status = script.takeStatus();
    if (status != FT_OK) {
        return status;
    }
    script.devicesListed = (script.takeControl() + 1u) % LIST_SIZES;
    *lpdwNumDevs = static_cast<DWORD>(script.devicesListed);
    return FT_OK;
}

FT_STATUS WINAPI FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* pDest, LPDWORD lpdwNumDevs) {
    FUZZ_CHECK(lpdwNumDevs != nullptr);
    const FT_STATUS status = script.takeStatus();
    if (status != FT_OK) {
        return status;
    }
    // The caller made room for as many records as the list held when it was created.
    checkBuffer(pDest, static_cast<DWORD>(script.devicesListed * sizeof *pDest));
    for (std::size_t i = 0; i < script.devicesListed; ++i) {
        fillRecord(pDest[i], i, script.takeControl());
    }
    const uint8_t reported = script.takeControl();
    *lpdwNumDevs = reported == 0 ? static_cast<DWORD>(script.devicesListed) : reported - 1u;
    return FT_OK;
}

FT_STATUS WINAPI FT_OpenEx(PVOID pArg1, DWORD Flags, FT_HANDLE* pHandle) {
    FUZZ_CHECK(pHandle != nullptr);
    if (Flags == FT_OPEN_BY_SERIAL_NUMBER) {
        // Read to its end, as a driver would; no device has a serial number longer than its
        // record holds (one taken from a record must stop at the record's end).
        FUZZ_CHECK(pArg1 != nullptr);
        FUZZ_CHECK(std::strlen(static_cast<const char*>(pArg1)) <=
                   sizeof(FT_DEVICE_LIST_INFO_NODE::SerialNumber));
    }
    const FT_STATUS status = script.takeStatus();
    if (status != FT_OK) {
        return status;
    }
    script.open.push_back(std::make_unique<OpenDevice>());
    *pHandle = script.open.back().get();
    return FT_OK;
}

FT_STATUS WINAPI FT_SetDataCharacteristics(FT_HANDLE ftHandle, UCHAR, UCHAR, UCHAR) {
    return statusFor(ftHandle);
}

FT_STATUS WINAPI FT_SetFlowControl(FT_HANDLE ftHandle, USHORT, UCHAR, UCHAR) {
    return statusFor(ftHandle);
}

FT_STATUS WINAPI FT_ClrRts(FT_HANDLE ftHandle) {
    return statusFor(ftHandle);
}

FT_STATUS WINAPI FT_SetBaudRate(FT_HANDLE ftHandle, ULONG) {
    return statusFor(ftHandle);
}

FT_STATUS WINAPI FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR) {
    return statusFor(ftHandle);
}

FT_STATUS WINAPI FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG, ULONG) {
    return statusFor(ftHandle);
}

FT_STATUS WINAPI FT_SetTimeouts(FT_HANDLE ftHandle, ULONG, ULONG) {
    return statusFor(ftHandle);
}

FT_STATUS WINAPI FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite,
                          LPDWORD lpBytesWritten) {
    FUZZ_CHECK(lpBytesWritten != nullptr);
    checkBuffer(lpBuffer, dwBytesToWrite);
    const FT_STATUS status = statusFor(ftHandle);
    if (status != FT_OK) {
        return status;
    }
    const uint8_t limit = script.takeControl();
    *lpBytesWritten = limit == 0 ? dwBytesToWrite : std::min<DWORD>(dwBytesToWrite, limit - 1u);
    return FT_OK;
}

FT_STATUS WINAPI FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead,
                         LPDWORD lpBytesReturned) {
    FUZZ_CHECK(lpBytesReturned != nullptr);
    checkBuffer(lpBuffer, dwBytesToRead);
    const FT_STATUS status = statusFor(ftHandle);
    if (status != FT_OK) {
        return status;
    }
    const uint8_t limit = script.takeControl();
    const DWORD wanted = limit == 0 ? dwBytesToRead : std::min<DWORD>(dwBytesToRead, limit - 1u);
    *lpBytesReturned = static_cast<DWORD>(script.takeLink(static_cast<uint8_t*>(lpBuffer), wanted));
    return FT_OK;
}

FT_STATUS WINAPI FT_GetQueueStatus(FT_HANDLE ftHandle, LPDWORD lpdwAmountInRxQueue) {
    FUZZ_CHECK(lpdwAmountInRxQueue != nullptr);
    const FT_STATUS status = statusFor(ftHandle);
    if (status != FT_OK) {
        return status;
    }
    *lpdwAmountInRxQueue =
        static_cast<DWORD>(std::min<std::size_t>(script.takeControl(), script.linkLeft));
    return FT_OK;
}

FT_STATUS WINAPI FT_Purge(FT_HANDLE ftHandle, ULONG Mask) {
    const FT_STATUS status = statusFor(ftHandle);
    if (status != FT_OK) {
        return status;
    }
    if ((Mask & FT_PURGE_RX) != 0) {
        script.takeLink(nullptr, script.takeControl());
    }
    return FT_OK;
}

FT_STATUS WINAPI FT_Close(FT_HANDLE ftHandle) {
    const FT_STATUS status = statusFor(ftHandle);
    // Closed whatever the status: a caller cannot do anything else with a handle whose close
    // failed, and must not close it again.
    script.open.erase(
        std::remove_if(script.open.begin(), script.open.end(),
                       [ftHandle](const auto& device) { return device.get() == ftHandle; }),
        script.open.end());
    return status;
}
