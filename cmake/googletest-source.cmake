# GoogleTest for a cross build (Windows, i386 and ARM Linux); included from tests/CMakeLists.txt.
# Debian packages only the host's build of it, so it is compiled here from Debian's sources;
# EXCLUDE_FROM_ALL builds only the libraries the tests link.
set(USB3K_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (googletest package)")
set(INSTALL_GTEST OFF CACHE BOOL "no installation of GoogleTest from this build" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "the suites use GoogleTest only" FORCE)
add_subdirectory("${USB3K_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
