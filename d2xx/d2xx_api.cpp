#include "d2xx/d2xx_api.h"

#include <mutex>

#include "d2xx/shared_library.h"

namespace {

// A function only the emulator exports: FTDI's driver has no such name.
constexpr const char* EMULATOR_MARK = "sim_reset";

// What every call answers while no D2XX library is loaded: no device, no bytes.
FT_STATUS WINAPI absentCreateDeviceInfoList(LPDWORD count) {
    if (count != nullptr) {
        *count = 0;
    }
    return FT_DEVICE_NOT_FOUND;
}
FT_STATUS WINAPI absentGetDeviceInfoList(FT_DEVICE_LIST_INFO_NODE*, LPDWORD count) {
    return absentCreateDeviceInfoList(count);
}
FT_STATUS WINAPI absentOpenEx(PVOID, DWORD, FT_HANDLE*) {
    return FT_DEVICE_NOT_FOUND;
}
FT_STATUS WINAPI absentSetDataCharacteristics(FT_HANDLE, UCHAR, UCHAR, UCHAR) {
    return FT_DEVICE_NOT_FOUND;
}
FT_STATUS WINAPI absentSetFlowControl(FT_HANDLE, USHORT, UCHAR, UCHAR) {
    return FT_DEVICE_NOT_FOUND;
}
FT_STATUS WINAPI absentOnHandle(FT_HANDLE) {
    return FT_DEVICE_NOT_FOUND;
}
FT_STATUS WINAPI absentWithNumber(FT_HANDLE, ULONG) {
    return FT_DEVICE_NOT_FOUND;
}
FT_STATUS WINAPI absentSetLatencyTimer(FT_HANDLE, UCHAR) {
    return FT_DEVICE_NOT_FOUND;
}
FT_STATUS WINAPI absentWithTwoNumbers(FT_HANDLE, ULONG, ULONG) {
    return FT_DEVICE_NOT_FOUND;
}
FT_STATUS WINAPI absentTransfer(FT_HANDLE, LPVOID, DWORD, LPDWORD done) {
    return absentCreateDeviceInfoList(done);
}
FT_STATUS WINAPI absentGetQueueStatus(FT_HANDLE, LPDWORD queued) {
    return absentCreateDeviceInfoList(queued);
}

constexpr D2xxApi ABSENT = {
    absentCreateDeviceInfoList,
    absentGetDeviceInfoList,
    absentOpenEx,
    absentSetDataCharacteristics,
    absentSetFlowControl,
    absentOnHandle,
    absentWithNumber,
    absentSetLatencyTimer,
    absentWithTwoNumbers,
    absentWithTwoNumbers,
    absentTransfer,
    absentTransfer,
    absentGetQueueStatus,
    absentWithNumber,
    absentOnHandle,
};

struct Loaded {
    std::mutex lock;
    shared_library::Handle library = nullptr;
    D2xxApi api = ABSENT;
    bool emulator = false;
    // The program gave its own functions: nothing is loaded.
    bool provided = false;
};

Loaded& loaded() {
    static Loaded instance;
    return instance;
}

template <typename Function>
bool resolve(shared_library::Handle library, const char* name, Function& slot,
             std::string& reason) {
    std::string why;
    void* address = shared_library::find(library, name, why);
    if (address == nullptr) {
        reason = std::string("cannot find ") + name + " in the D2XX library: " + why;
        return false;
    }
    slot = reinterpret_cast<Function>(address);
    return true;
}

bool resolveAll(shared_library::Handle library, D2xxApi& api, std::string& reason) {
    return resolve(library, "FT_CreateDeviceInfoList", api.createDeviceInfoList, reason) &&
           resolve(library, "FT_GetDeviceInfoList", api.getDeviceInfoList, reason) &&
           resolve(library, "FT_OpenEx", api.openEx, reason) &&
           resolve(library, "FT_SetDataCharacteristics", api.setDataCharacteristics, reason) &&
           resolve(library, "FT_SetFlowControl", api.setFlowControl, reason) &&
           resolve(library, "FT_ClrRts", api.clrRts, reason) &&
           resolve(library, "FT_SetBaudRate", api.setBaudRate, reason) &&
           resolve(library, "FT_SetLatencyTimer", api.setLatencyTimer, reason) &&
           resolve(library, "FT_SetUSBParameters", api.setUSBParameters, reason) &&
           resolve(library, "FT_SetTimeouts", api.setTimeouts, reason) &&
           resolve(library, "FT_Write", api.write, reason) &&
           resolve(library, "FT_Read", api.read, reason) &&
           resolve(library, "FT_GetQueueStatus", api.getQueueStatus, reason) &&
           resolve(library, "FT_Purge", api.purge, reason) &&
           resolve(library, "FT_Close", api.close, reason);
}

}  // namespace

bool loadD2xx(std::string& reason) {
    Loaded& state = loaded();
    std::lock_guard<std::mutex> hold(state.lock);
    if (state.library != nullptr || state.provided) {
        return true;
    }
    std::string why;
    shared_library::Handle library = shared_library::openD2xx(why);
    if (library == nullptr) {
        reason = "cannot load the D2XX library: " + why;
        return false;
    }
    D2xxApi api = ABSENT;
    if (!resolveAll(library, api, reason)) {
        // The library stays loaded (unloading a driver is not worth its risks), but the table
        // stays absent, and the next attempt asks the loader again.
        return false;
    }
    std::string ignored;
    state.emulator = shared_library::find(library, EMULATOR_MARK, ignored) != nullptr;
    state.api = api;
    state.library = library;
    return true;
}

void useD2xxFunctions(const D2xxApi& functions) {
    Loaded& state = loaded();
    std::lock_guard<std::mutex> hold(state.lock);
    state.api = functions;
    state.provided = true;
}

const D2xxApi& d2xx() {
    return loaded().api;
}

bool d2xxIsEmulator() {
    Loaded& state = loaded();
    std::lock_guard<std::mutex> hold(state.lock);
    return state.emulator;
}
