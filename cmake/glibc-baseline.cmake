# The Linux libraries the jars carry load on glibc 2.17 and later, whatever glibc builds them:
# libstdc++ and libgcc are linked in (their symbols kept out of the exports by each library's
# version script and --exclude-libs), and every glibc function whose current version is newer
# than 2.17 is wrapped (-Wl,--wrap) by compat/glibc_baseline.c, which binds it to the version
# glibc 2.17 has. scripts/check-natives proves the result. Included from the top-level
# CMakeLists.txt before any folder that makes such a library; docs/building.md explains it.

# Not for the sanitizer build, whose runtime is a shared library of the compiler's own.
set(usb3k_glibc_baseline_default OFF)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT USB3K_SANITIZE AND NOT USB3K_FUZZ)
    set(usb3k_glibc_baseline_default ON)
endif()
option(USB3K_GLIBC_BASELINE
    "Link the shipped Linux libraries to load on glibc 2.17 and later (static libstdc++ and libgcc)"
    ${usb3k_glibc_baseline_default})
if(NOT USB3K_GLIBC_BASELINE)
    return()
endif()

# By architecture: the version glibc gave its functions when it first came to that architecture,
# which is what compat/glibc_baseline.c binds them to, and where dlopen differs from the rest
# (i386 has a dlopen of glibc 2.0 that 2.1 replaced).
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|amd64|AMD64)$")
    set(usb3k_glibc_first GLIBC_2.2.5)
    set(usb3k_glibc_dlopen GLIBC_2.2.5)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^i[3-6]86$")
    set(usb3k_glibc_first GLIBC_2.0)
    set(usb3k_glibc_dlopen GLIBC_2.1)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
    set(usb3k_glibc_first GLIBC_2.17)
    set(usb3k_glibc_dlopen GLIBC_2.17)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
    # arm-linux-gnueabihf (32-bit ARM, hard float)
    set(usb3k_glibc_first GLIBC_2.4)
    set(usb3k_glibc_dlopen GLIBC_2.4)
else()
    message(FATAL_ERROR "No glibc baseline for processor ${CMAKE_SYSTEM_PROCESSOR}: add it to "
        "cmake/glibc-baseline.cmake, or configure with -DUSB3K_GLIBC_BASELINE=OFF")
endif()

add_library(usb3k_glibc_baseline OBJECT ${PROJECT_SOURCE_DIR}/compat/glibc_baseline.c)
target_compile_definitions(usb3k_glibc_baseline PRIVATE
    USB3K_GLIBC_FIRST="${usb3k_glibc_first}" USB3K_GLIBC_DLOPEN="${usb3k_glibc_dlopen}")
set_target_properties(usb3k_glibc_baseline PROPERTIES C_VISIBILITY_PRESET hidden)

# The functions compat/glibc_baseline.c stands in for: those our code, libstdc++ and libgcc call
# that glibc 2.18 and later gave a new version or brought in.
set(usb3k_glibc_wrapped
    dlopen dlsym dlerror dlclose dladdr
    pthread_once pthread_key_create __pthread_key_create pthread_key_delete pthread_getspecific
    pthread_setspecific pthread_cond_clockwait __cxa_thread_atexit_impl _dl_find_object getentropy arc4random)
list(TRANSFORM usb3k_glibc_wrapped PREPEND -Wl,--wrap= OUTPUT_VARIABLE usb3k_glibc_wrap_options)

# usb3k_glibc_baseline(target): links a shared library to the baseline. libdl.so.2 and
# libpthread.so.0 are linked by name, as the build machine's glibc has no libdl.so or
# libpthread.so to link against: on a glibc before 2.34 they hold the old versions.
function(usb3k_glibc_baseline target)
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:usb3k_glibc_baseline>)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc -Wl,--exclude-libs,ALL
        ${usb3k_glibc_wrap_options})
    target_link_libraries(${target} PRIVATE
        -Wl,--push-state,--no-as-needed -l:libdl.so.2 -l:libpthread.so.0 -Wl,--pop-state)
endfunction()
