# What the Windows toolchains share (mingw-i686.cmake, mingw-x86_64.cmake): MinGW-w64's
# posix-thread compilers for USB3K_MINGW_TRIPLET, a fully static runtime, and wine to run the
# target's programs, so CTest and gtest_discover_tests work as on a native build.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: the win32 one has no std::mutex, which the bridge needs.
set(CMAKE_C_COMPILER ${USB3K_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${USB3K_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${USB3K_MINGW_TRIPLET}-windres)
set(CMAKE_DLLTOOL ${USB3K_MINGW_TRIPLET}-dlltool CACHE FILEPATH "makes import libraries from .def files")
set(CMAKE_OBJDUMP ${USB3K_MINGW_TRIPLET}-objdump CACHE FILEPATH "reads export and import tables")

set(CMAKE_FIND_ROOT_PATH /usr/${USB3K_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Fully static runtime: otherwise every DLL depends on libwinpthread-1.dll, libgcc_s and
# libstdc++, which a JVM's process does not have, and LoadLibrary fails with error 126.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Cached, so that a -D on the command line can replace it. The wine prefix is kept inside the
# build tree so that a build never touches the user's own ~/.wine; USB3K_WINE_ARCH_OPTION asks
# wine-run.sh for a 64-bit one.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh" ${USB3K_WINE_ARCH_OPTION} "${CMAKE_BINARY_DIR}/wine"
    CACHE STRING "runs target programs: wine-run.sh and the wine prefix")
