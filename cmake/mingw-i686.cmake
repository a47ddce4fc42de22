# Cross-compiles for 32-bit Windows (i686-w64-mingw32), the platform the library's users run it on.
# Target programs run under wine through wine-run.sh, so CTest and gtest_discover_tests work as on
# a native build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

# The posix thread model: the win32 one has no std::mutex, which the bridge needs.
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_DLLTOOL i686-w64-mingw32-dlltool CACHE FILEPATH "makes import libraries from .def files")
set(CMAKE_OBJDUMP i686-w64-mingw32-objdump CACHE FILEPATH "reads export and import tables")

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Fully static runtime: otherwise every DLL depends on libwinpthread-1.dll, libgcc_s and
# libstdc++, which a JVM's process does not have, and LoadLibrary fails with error 126.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Cached, so that a -D on the command line can replace it. The second element is the wine prefix,
# kept inside the build tree so that a build never touches the user's own ~/.wine.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wine"
    CACHE STRING "runs target programs: wine-run.sh and the wine prefix")
