# GoogleTest for a cross build (Windows, i386 and ARM Linux); included from tests/CMakeLists.txt.
# Debian packages only the host's build of it, so it is compiled here from Debian's sources;
# EXCLUDE_FROM_ALL builds only the libraries the tests link.
set(USB3K_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (googletest package)")
set(INSTALL_GTEST OFF CACHE BOOL "no installation of GoogleTest from this build" FORCE)
# GoogleMock only for usb3k-server's suites, when a cross build makes the server.
if(USB3K_SERVER)
    set(BUILD_GMOCK ON CACHE BOOL "usb3k-server's suites use GoogleMock" FORCE)
else()
    set(BUILD_GMOCK OFF CACHE BOOL "the suites use GoogleTest only" FORCE)
endif()
add_subdirectory("${USB3K_GOOGLETEST_SOURCE}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
