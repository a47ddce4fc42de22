# Cross-compiles for 64-bit Windows (x86_64-w64-mingw32). Target programs run under wine in a
# 64-bit prefix (wine-run.sh --win64).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(USB3K_MINGW_TRIPLET x86_64-w64-mingw32)
set(USB3K_WINE_ARCH_OPTION --win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
