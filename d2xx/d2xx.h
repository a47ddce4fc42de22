// The D2XX functions and types that usb3k calls, declared to match FTDI's published ABI (and
// checked against FTDI's own header: ftdi-reference/d2xx_conformance.cpp).
// This is the one place that knows the platform: calling convention, record layout, status codes.
// With USB3K_FTDI_HEADER defined, FTDI's own ftd2xx.h is used instead.
#pragma once

#include <stddef.h>  // offsetof, for the layout check at the end

#ifdef USB3K_FTDI_HEADER
#ifdef _WIN32
#include <windows.h>
#endif
#include <ftd2xx.h>
#else

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#define WINAPI
typedef unsigned int DWORD;
typedef unsigned int ULONG;
typedef unsigned short USHORT;
typedef unsigned char UCHAR;
typedef DWORD* LPDWORD;
typedef void* PVOID;
typedef void* LPVOID;
#endif

typedef PVOID FT_HANDLE;
typedef ULONG FT_STATUS;

enum {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_DEVICE_NOT_OPENED_FOR_ERASE = 8,
    FT_DEVICE_NOT_OPENED_FOR_WRITE = 9,
    FT_FAILED_TO_WRITE_DEVICE = 10,
    FT_INVALID_ARGS = 16,
    FT_NOT_SUPPORTED = 17,
    FT_OTHER_ERROR = 18,
    FT_DEVICE_LIST_NOT_READY = 19,
};

#define FT_OPEN_BY_SERIAL_NUMBER 1
#define FT_BITS_8 ((UCHAR)8)
#define FT_STOP_BITS_1 ((UCHAR)0)
#define FT_PARITY_NONE ((UCHAR)0)
#define FT_FLOW_RTS_CTS 0x0100
#define FT_PURGE_RX 1
#define FT_PURGE_TX 2

typedef struct _ft_device_list_info_node {
    ULONG Flags;
    ULONG Type;
    ULONG ID;  // vendor in the upper 16 bits, product in the lower
    DWORD LocId;
    char SerialNumber[16];  // zero-terminated when shorter than 16
    char Description[64];
    FT_HANDLE ftHandle;
} FT_DEVICE_LIST_INFO_NODE;

#ifdef __cplusplus
extern "C" {
#endif

FT_STATUS WINAPI FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs);
FT_STATUS WINAPI FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* pDest, LPDWORD lpdwNumDevs);
FT_STATUS WINAPI FT_OpenEx(PVOID pArg1, DWORD Flags, FT_HANDLE* pHandle);
FT_STATUS WINAPI FT_SetDataCharacteristics(FT_HANDLE ftHandle, UCHAR WordLength, UCHAR StopBits,
                                           UCHAR Parity);
FT_STATUS WINAPI FT_SetFlowControl(FT_HANDLE ftHandle, USHORT FlowControl, UCHAR XonChar,
                                   UCHAR XoffChar);
FT_STATUS WINAPI FT_ClrRts(FT_HANDLE ftHandle);
FT_STATUS WINAPI FT_SetBaudRate(FT_HANDLE ftHandle, ULONG BaudRate);
FT_STATUS WINAPI FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency);
FT_STATUS WINAPI FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG ulInTransferSize,
                                     ULONG ulOutTransferSize);
FT_STATUS WINAPI FT_SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout);
FT_STATUS WINAPI FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite,
                          LPDWORD lpBytesWritten);
FT_STATUS WINAPI FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead,
                         LPDWORD lpBytesReturned);
FT_STATUS WINAPI FT_GetQueueStatus(FT_HANDLE ftHandle, LPDWORD lpdwAmountInRxQueue);
FT_STATUS WINAPI FT_Purge(FT_HANDLE ftHandle, ULONG Mask);
FT_STATUS WINAPI FT_Close(FT_HANDLE ftHandle);

#ifdef __cplusplus
}
#endif

#endif  // USB3K_FTDI_HEADER

// The record is read straight out of the array D2XX fills, so its layout must be the driver's:
// four 32-bit fields and 80 bytes of text, then the handle at offset 96, padded to its alignment.
// That depends only on the data model: 100 bytes where pointers are 32 bits (Win32, i386 Linux),
// 104 where they are 64 bits (Win64, whose ULONG stays 32 bits; LP64 Linux, where D2XX makes it
// unsigned int).
static_assert(sizeof(ULONG) == 4 && sizeof(DWORD) == 4, "D2XX's ULONG and DWORD are 32 bits");
static_assert(sizeof(FT_HANDLE) == 4 || sizeof(FT_HANDLE) == 8, "D2XX has 32- or 64-bit handles");
static_assert(offsetof(FT_DEVICE_LIST_INFO_NODE, ftHandle) == 96,
              "D2XX device record: the handle follows 96 bytes of fields");
static_assert(sizeof(FT_DEVICE_LIST_INFO_NODE) == (sizeof(FT_HANDLE) == 4 ? 100 : 104),
              "D2XX device record: 100 bytes with 32-bit pointers, 104 with 64-bit ones");
