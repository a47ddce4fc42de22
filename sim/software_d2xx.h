// The software D2XX: the work behind each exported D2XX function, on the emulator's state.
#pragma once

#include "d2xx/d2xx.h"

namespace sim {

FT_STATUS createDeviceInfoList(LPDWORD count);
FT_STATUS getDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* records, LPDWORD count);
FT_STATUS openEx(PVOID arg, DWORD flags, FT_HANDLE* handle);
FT_STATUS setDataCharacteristics(FT_HANDLE handle, UCHAR wordLength, UCHAR stopBits, UCHAR parity);
FT_STATUS setFlowControl(FT_HANDLE handle, USHORT flowControl, UCHAR xon, UCHAR xoff);
FT_STATUS clrRts(FT_HANDLE handle);
FT_STATUS setBaudRate(FT_HANDLE handle, ULONG baudRate);
FT_STATUS setLatencyTimer(FT_HANDLE handle, UCHAR latency);
FT_STATUS setUsbParameters(FT_HANDLE handle, ULONG inSize, ULONG outSize);
FT_STATUS setTimeouts(FT_HANDLE handle, ULONG readTimeout, ULONG writeTimeout);
FT_STATUS write(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD written);
FT_STATUS read(FT_HANDLE handle, LPVOID buffer, DWORD count, LPDWORD received);
FT_STATUS getQueueStatus(FT_HANDLE handle, LPDWORD queued);
FT_STATUS purge(FT_HANDLE handle, ULONG mask);
FT_STATUS close(FT_HANDLE handle);

}  // namespace sim
