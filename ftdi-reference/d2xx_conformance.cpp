// Our D2XX declarations (d2xx/d2xx.h) against FTDI's own header, at compile time: every type,
// constant, status code, record layout and function we declare must equal FTDI's, or the build
// fails naming what differs. The emulator implements the same declarations, so a mistake in them
// would pass every other test and fail only on FTDI's driver.
//
// Both headers declare the same names, so each goes into a namespace of its own, and what a
// namespace cannot hold is renamed on the way in:
// - The system headers both lean on are included first, at global scope, so that their include
//   guards keep them out of the namespaces (on Windows both take DWORD and the rest from there).
// - Macros ignore namespaces: each side's constants are copied into its namespace as constexpr
//   values (the copy keeps the type, such as FTDI's (UCHAR) 8) and ours are undefined before
//   FTDI's header defines them again.
// - extern "C" functions ignore namespaces too: two declarations of FT_OpenEx would be one
//   function, and a mismatch a redeclaration error rather than a comparison. Ours are renamed to
//   ours_FT_... while our header is read, so the two are distinct and their types comparable.
#include <stddef.h>

#include <string>
#include <type_traits>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#include <sys/time.h>
#endif

// What d2xx/ declares. Each list is used on both sides, so a name added to d2xx/d2xx.h and here
// is checked against FTDI's at once.
// clang-format off
#define USB3K_D2XX_TYPES(X) \
    X(DWORD) X(ULONG) X(USHORT) X(UCHAR) X(LPDWORD) X(PVOID) X(LPVOID) X(FT_HANDLE) \
    X(FT_STATUS)
#define USB3K_D2XX_CONSTANTS(X) \
    X(FT_OPEN_BY_SERIAL_NUMBER) X(FT_BITS_8) X(FT_STOP_BITS_1) X(FT_PARITY_NONE) \
    X(FT_FLOW_RTS_CTS) X(FT_PURGE_RX) X(FT_PURGE_TX)
#define USB3K_D2XX_STATUSES(X) \
    X(FT_OK) X(FT_INVALID_HANDLE) X(FT_DEVICE_NOT_FOUND) X(FT_DEVICE_NOT_OPENED) \
    X(FT_IO_ERROR) X(FT_INSUFFICIENT_RESOURCES) X(FT_INVALID_PARAMETER) \
    X(FT_INVALID_BAUD_RATE) X(FT_DEVICE_NOT_OPENED_FOR_ERASE) \
    X(FT_DEVICE_NOT_OPENED_FOR_WRITE) X(FT_FAILED_TO_WRITE_DEVICE) X(FT_INVALID_ARGS) \
    X(FT_NOT_SUPPORTED) X(FT_OTHER_ERROR) X(FT_DEVICE_LIST_NOT_READY)
#define USB3K_D2XX_RECORD_FIELDS(X) \
    X(Flags) X(Type) X(ID) X(LocId) X(SerialNumber) X(Description) X(ftHandle)
#define USB3K_D2XX_FUNCTIONS(X) \
    X(FT_CreateDeviceInfoList) X(FT_GetDeviceInfoList) X(FT_OpenEx) \
    X(FT_SetDataCharacteristics) X(FT_SetFlowControl) X(FT_ClrRts) X(FT_SetBaudRate) \
    X(FT_SetLatencyTimer) X(FT_SetUSBParameters) X(FT_SetTimeouts) X(FT_Write) X(FT_Read) \
    X(FT_GetQueueStatus) X(FT_Purge) X(FT_Close)
// clang-format on

// Inside a namespace: each type as that namespace sees it (its own typedef, or windows.h's), and
// each constant's value with its type. The ## keeps the name itself from expanding.
#define USB3K_NAME_TYPE(type) using type##_type = type;
#define USB3K_COPY_CONSTANT(name) constexpr auto name##_value = name;

#define FT_CreateDeviceInfoList ours_FT_CreateDeviceInfoList
#define FT_GetDeviceInfoList ours_FT_GetDeviceInfoList
#define FT_OpenEx ours_FT_OpenEx
#define FT_SetDataCharacteristics ours_FT_SetDataCharacteristics
#define FT_SetFlowControl ours_FT_SetFlowControl
#define FT_ClrRts ours_FT_ClrRts
#define FT_SetBaudRate ours_FT_SetBaudRate
#define FT_SetLatencyTimer ours_FT_SetLatencyTimer
#define FT_SetUSBParameters ours_FT_SetUSBParameters
#define FT_SetTimeouts ours_FT_SetTimeouts
#define FT_Write ours_FT_Write
#define FT_Read ours_FT_Read
#define FT_GetQueueStatus ours_FT_GetQueueStatus
#define FT_Purge ours_FT_Purge
#define FT_Close ours_FT_Close
namespace ours {
#include "d2xx/d2xx.h"
#include "d2xx/d2xx_api.h"
USB3K_D2XX_TYPES(USB3K_NAME_TYPE)
USB3K_D2XX_CONSTANTS(USB3K_COPY_CONSTANT)
}  // namespace ours
#undef FT_CreateDeviceInfoList
#undef FT_GetDeviceInfoList
#undef FT_OpenEx
#undef FT_SetDataCharacteristics
#undef FT_SetFlowControl
#undef FT_ClrRts
#undef FT_SetBaudRate
#undef FT_SetLatencyTimer
#undef FT_SetUSBParameters
#undef FT_SetTimeouts
#undef FT_Write
#undef FT_Read
#undef FT_GetQueueStatus
#undef FT_Purge
#undef FT_Close
#undef FT_OPEN_BY_SERIAL_NUMBER
#undef FT_BITS_8
#undef FT_STOP_BITS_1
#undef FT_PARITY_NONE
#undef FT_FLOW_RTS_CTS
#undef FT_PURGE_RX
#undef FT_PURGE_TX
#ifndef _WIN32
#undef WINAPI  // ours; FTDI's WinTypes.h defines its own
#endif

namespace ftdi {
#include <ftd2xx.h>
USB3K_D2XX_TYPES(USB3K_NAME_TYPE)
USB3K_D2XX_CONSTANTS(USB3K_COPY_CONSTANT)
}  // namespace ftdi

#define USB3K_SAME_TYPE(type)                                                \
    static_assert(std::is_same<ours::type##_type, ftdi::type##_type>::value, \
                  #type ": our type differs from FTDI's");
#define USB3K_SAME_CONSTANT(name)                                                                  \
    static_assert(std::is_same<decltype(ours::name##_value), decltype(ftdi::name##_value)>::value, \
                  #name ": our constant's type differs from FTDI's");                              \
    static_assert(ours::name##_value == ftdi::name##_value,                                        \
                  #name ": our constant's value differs from FTDI's");
// The status codes are enumerators of two unnamed enums: only their values can match.
#define USB3K_SAME_STATUS(name)                                                             \
    static_assert(static_cast<long long>(ours::name) == static_cast<long long>(ftdi::name), \
                  #name ": our status code differs from FTDI's");
#define USB3K_SAME_FIELD(field)                                                            \
    static_assert(offsetof(ours::FT_DEVICE_LIST_INFO_NODE, field) ==                       \
                      offsetof(ftdi::FT_DEVICE_LIST_INFO_NODE, field),                     \
                  "FT_DEVICE_LIST_INFO_NODE::" #field ": our offset differs from FTDI's"); \
    static_assert(std::is_same<decltype(ours::FT_DEVICE_LIST_INFO_NODE::field),            \
                               decltype(ftdi::FT_DEVICE_LIST_INFO_NODE::field)>::value,    \
                  "FT_DEVICE_LIST_INFO_NODE::" #field ": our type differs from FTDI's");

// The two records are distinct types however equal their layouts, so before a function type is
// compared, a pointer to our record among its parameters becomes a pointer to FTDI's. The
// function type carries the parameters, the result and the calling convention: only on 32-bit
// Windows is WINAPI one of its own (__stdcall), and there a function declared without it matches
// neither form below.
template <typename Parameter>
struct AsFtdi {
    using type = Parameter;
};
template <>
struct AsFtdi<ours::FT_DEVICE_LIST_INFO_NODE*> {
    using type = ftdi::FT_DEVICE_LIST_INFO_NODE*;
};
template <typename Function>
struct AsFtdiFunction {};
template <typename Result, typename... Parameters>
struct AsFtdiFunction<Result(Parameters...)> {
    using type = Result(typename AsFtdi<Parameters>::type...);
};
#if defined(_WIN32) && !defined(_WIN64)
template <typename Result, typename... Parameters>
struct AsFtdiFunction<Result WINAPI(Parameters...)> {
    using type = Result WINAPI(typename AsFtdi<Parameters>::type...);
};
#endif
#define USB3K_SAME_FUNCTION(name)                                                         \
    static_assert(std::is_same<AsFtdiFunction<decltype(ours::ours_##name)>::type,         \
                               decltype(ftdi::name)>::value,                              \
                  #name                                                                   \
                  ": our declaration (parameters, result or calling convention) differs " \
                  "from FTDI's");

USB3K_D2XX_TYPES(USB3K_SAME_TYPE)
USB3K_D2XX_CONSTANTS(USB3K_SAME_CONSTANT)
USB3K_D2XX_STATUSES(USB3K_SAME_STATUS)
static_assert(sizeof(ours::FT_DEVICE_LIST_INFO_NODE) == sizeof(ftdi::FT_DEVICE_LIST_INFO_NODE),
              "FT_DEVICE_LIST_INFO_NODE: our size differs from FTDI's");
static_assert(alignof(ours::FT_DEVICE_LIST_INFO_NODE) == alignof(ftdi::FT_DEVICE_LIST_INFO_NODE),
              "FT_DEVICE_LIST_INFO_NODE: our alignment differs from FTDI's");
USB3K_D2XX_RECORD_FIELDS(USB3K_SAME_FIELD)
USB3K_D2XX_FUNCTIONS(USB3K_SAME_FUNCTION)

// The run-time table (d2xx/d2xx_api.h) holds one pointer per function d2xx/ declares: a function
// added to it and not to the list above fails here.
#define USB3K_ONE_MORE(name) +1
static_assert(sizeof(ours::D2xxApi) ==
                  (0 USB3K_D2XX_FUNCTIONS(USB3K_ONE_MORE)) * sizeof(void (*)()),
              "D2xxApi: a function in the table is missing from this check's list");
