#include "d2xx/d2xx_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

// A function only the emulator exports: FTDI's driver has no such name.
constexpr const char* EMULATOR_MARK = "sim_reset";

}  // namespace

bool d2xxLibraryIsEmulator() {
#ifdef _WIN32
    const HMODULE library = GetModuleHandleA("ftd2xx.dll");
    return library != nullptr && GetProcAddress(library, EMULATOR_MARK) != nullptr;
#else
    return dlsym(RTLD_DEFAULT, EMULATOR_MARK) != nullptr;
#endif
}
