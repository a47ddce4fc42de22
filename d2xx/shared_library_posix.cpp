// The D2XX library on Linux: libftd2xx.so through the normal loader search (so LD_LIBRARY_PATH
// can pick the emulator), then the versioned name FTDI's installer also creates.
#include <dlfcn.h>

#include "d2xx/shared_library.h"

namespace {

constexpr const char* NAMES[] = {"libftd2xx.so", "libftd2xx.so.1"};

std::string lastError() {
    const char* error = dlerror();
    return error != nullptr ? error : "unknown error";
}

}  // namespace

namespace shared_library {

Handle openD2xx(std::string& reason) {
    // The reason given is the plain name's: the versioned one is only a fallback.
    std::string firstReason;
    for (const char* name : NAMES) {
        if (Handle library = dlopen(name, RTLD_NOW | RTLD_LOCAL)) {
            return library;
        }
        if (firstReason.empty()) {
            firstReason = lastError();
        }
    }
    reason = firstReason;
    return nullptr;
}

void* find(Handle library, const char* name, std::string& reason) {
    dlerror();
    void* address = dlsym(library, name);
    if (address == nullptr) {
        reason = lastError();
    }
    return address;
}

}  // namespace shared_library
