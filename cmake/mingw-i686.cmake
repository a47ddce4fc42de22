# Cross-compiles for 32-bit Windows (i686-w64-mingw32), the platform the library's users run it on.
# Target programs run under wine in a 32-bit prefix (wine-run.sh).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(USB3K_MINGW_TRIPLET i686-w64-mingw32)
set(USB3K_WINE_ARCH_OPTION "")
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
