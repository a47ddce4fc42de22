// Opening the D2XX library and finding its functions: the platform's dynamic loader behind one
// small interface, so that the table in d2xx_api.cpp stays the same on every platform.
#pragma once

#include <string>

namespace shared_library {

// An opened library, or null.
using Handle = void*;

// Opens the D2XX library where the platform's driver puts it (see each platform's file). Null on
// failure, with the loader's reason.
Handle openD2xx(std::string& reason);

// The address of an exported function, or null with the loader's reason.
void* find(Handle library, const char* name, std::string& reason);

}  // namespace shared_library
