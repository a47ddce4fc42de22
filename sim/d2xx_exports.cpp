// The D2XX functions the emulator exports, under FTDI's names and calling convention. They are all
// in this one file so that a Windows build can list them in one module definition; each hands its
// work to the software D2XX.
#include "d2xx/d2xx.h"
#include "sim/software_d2xx.h"

extern "C" {

FT_STATUS WINAPI FT_CreateDeviceInfoList(LPDWORD lpdwNumDevs) {
    return sim::createDeviceInfoList(lpdwNumDevs);
}

FT_STATUS WINAPI FT_GetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE* pDest, LPDWORD lpdwNumDevs) {
    return sim::getDeviceInfoList(pDest, lpdwNumDevs);
}

FT_STATUS WINAPI FT_OpenEx(PVOID pArg1, DWORD Flags, FT_HANDLE* pHandle) {
    return sim::openEx(pArg1, Flags, pHandle);
}

FT_STATUS WINAPI FT_SetDataCharacteristics(FT_HANDLE ftHandle, UCHAR WordLength, UCHAR StopBits,
                                           UCHAR Parity) {
    return sim::setDataCharacteristics(ftHandle, WordLength, StopBits, Parity);
}

FT_STATUS WINAPI FT_SetFlowControl(FT_HANDLE ftHandle, USHORT FlowControl, UCHAR XonChar,
                                   UCHAR XoffChar) {
    return sim::setFlowControl(ftHandle, FlowControl, XonChar, XoffChar);
}

FT_STATUS WINAPI FT_ClrRts(FT_HANDLE ftHandle) {
    return sim::clrRts(ftHandle);
}

FT_STATUS WINAPI FT_SetBaudRate(FT_HANDLE ftHandle, ULONG BaudRate) {
    return sim::setBaudRate(ftHandle, BaudRate);
}

FT_STATUS WINAPI FT_SetLatencyTimer(FT_HANDLE ftHandle, UCHAR ucLatency) {
    return sim::setLatencyTimer(ftHandle, ucLatency);
}

FT_STATUS WINAPI FT_SetUSBParameters(FT_HANDLE ftHandle, ULONG ulInTransferSize,
                                     ULONG ulOutTransferSize) {
    return sim::setUsbParameters(ftHandle, ulInTransferSize, ulOutTransferSize);
}

FT_STATUS WINAPI FT_SetTimeouts(FT_HANDLE ftHandle, ULONG ReadTimeout, ULONG WriteTimeout) {
    return sim::setTimeouts(ftHandle, ReadTimeout, WriteTimeout);
}

FT_STATUS WINAPI FT_Write(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToWrite,
                          LPDWORD lpBytesWritten) {
    return sim::write(ftHandle, lpBuffer, dwBytesToWrite, lpBytesWritten);
}

FT_STATUS WINAPI FT_Read(FT_HANDLE ftHandle, LPVOID lpBuffer, DWORD dwBytesToRead,
                         LPDWORD lpBytesReturned) {
    return sim::read(ftHandle, lpBuffer, dwBytesToRead, lpBytesReturned);
}

FT_STATUS WINAPI FT_GetQueueStatus(FT_HANDLE ftHandle, LPDWORD lpdwAmountInRxQueue) {
    return sim::getQueueStatus(ftHandle, lpdwAmountInRxQueue);
}

FT_STATUS WINAPI FT_Purge(FT_HANDLE ftHandle, ULONG Mask) {
    return sim::purge(ftHandle, Mask);
}

FT_STATUS WINAPI FT_Close(FT_HANDLE ftHandle) {
    return sim::close(ftHandle);
}

}  // extern "C"
