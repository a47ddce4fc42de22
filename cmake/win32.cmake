# What a Windows build (32- or 64-bit: mingw-i686.cmake, mingw-x86_64.cmake) adds to the project:
# included from the top-level CMakeLists.txt when the target is Windows, before any target is made.

# Programs and DLLs side by side, as they are installed on Windows: a test program finds
# usb3k.dll and the emulator's ftd2xx.dll in its own folder, where the Windows loader looks first.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")

# usb3k.dll loads ftd2xx.dll at run time and imports nothing from it. The Windows ABI tests call
# the emulator's D2XX functions the way a program linked against FTDI's import library does,
# through an import library made from our .def: dlltool -k keeps the stdcall decoration on the
# symbols the compiler references (_FT_OpenEx@12) but strips it from the names in the import table
# (FT_OpenEx), which are the names ftd2xx.dll exports. The emulator's exports come from the same
# .def.
set(USB3K_FTD2XX_DEF "${CMAKE_CURRENT_LIST_DIR}/ftd2xx.def")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    # x64 has one calling convention and no stdcall decoration: the compiler calls FT_OpenEx, not
    # FT_OpenEx@12. The same list, with the decoration (and the comments about it) taken off.
    file(READ "${USB3K_FTD2XX_DEF}" usb3k_ftd2xx_exports)
    string(REGEX REPLACE "@[0-9]+" "" usb3k_ftd2xx_exports "${usb3k_ftd2xx_exports}")
    string(REGEX REPLACE "(^|\n);[^\n]*" "" usb3k_ftd2xx_exports "${usb3k_ftd2xx_exports}")
    string(PREPEND usb3k_ftd2xx_exports
        "; Made from cmake/ftd2xx.def by cmake/win32.cmake: x64 names carry no decoration.")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${USB3K_FTD2XX_DEF}")
    set(USB3K_FTD2XX_DEF "${CMAKE_BINARY_DIR}/ftd2xx-import/ftd2xx.def")
    file(CONFIGURE OUTPUT "${USB3K_FTD2XX_DEF}" CONTENT "${usb3k_ftd2xx_exports}" @ONLY)
endif()
set(usb3k_ftd2xx_import_lib "${CMAKE_BINARY_DIR}/ftd2xx-import/libftd2xx.a")
add_custom_command(
    OUTPUT "${usb3k_ftd2xx_import_lib}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_BINARY_DIR}/ftd2xx-import"
    COMMAND "${CMAKE_DLLTOOL}" -k -d "${USB3K_FTD2XX_DEF}" -l "${usb3k_ftd2xx_import_lib}"
    DEPENDS "${USB3K_FTD2XX_DEF}"
    COMMENT "Making the ftd2xx.dll import library from ftd2xx.def"
    VERBATIM)
add_custom_target(ftd2xx_import_lib DEPENDS "${usb3k_ftd2xx_import_lib}")
add_library(ftd2xx_import STATIC IMPORTED GLOBAL)
set_target_properties(ftd2xx_import PROPERTIES IMPORTED_LOCATION "${usb3k_ftd2xx_import_lib}")
add_dependencies(ftd2xx_import ftd2xx_import_lib)

# JNI headers: the JDK's jni.h with our Windows jni_md.h (JNICALL __stdcall, jint long). The JDK
# on this machine is a Linux one; its own jni_md.h, in include/linux, must stay out of the path.
# Cached, so a user can point at another JDK's include folder.
find_program(USB3K_JAVAC javac REQUIRED)
get_filename_component(usb3k_javac_real "${USB3K_JAVAC}" REALPATH)
get_filename_component(usb3k_jdk_bin "${usb3k_javac_real}" DIRECTORY)
get_filename_component(usb3k_jdk "${usb3k_jdk_bin}" DIRECTORY)
set(JAVA_INCLUDE_PATH "${usb3k_jdk}/include" CACHE PATH "folder of jni.h")
set(JAVA_INCLUDE_PATH2 "${CMAKE_CURRENT_LIST_DIR}/win32/include" CACHE PATH
    "folder of the Windows jni_md.h")
# FindJNI adds this folder (jawt.h) to the include path of generated JNI headers.
set(JAVA_AWT_INCLUDE_PATH "${usb3k_jdk}/include" CACHE PATH "folder of jawt.h")


# A DLL we ship: a version resource whose file version is the project's, and the debug symbols in
# a file of their own (name.dll.debug, linked from the DLL), so that the DLL itself is stripped.
enable_language(RC)
function(usb3k_shipped_dll target description)
    set(usb3k_dll_name ${target})
    set(usb3k_dll_description "${description}")
    configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/win32/version.rc.in
        ${CMAKE_BINARY_DIR}/version/${target}.rc @ONLY)
    target_sources(${target} PRIVATE ${CMAKE_BINARY_DIR}/version/${target}.rc)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}>
            $<TARGET_FILE_NAME:${target}>.debug
        COMMAND ${CMAKE_OBJCOPY} --strip-debug
            --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug $<TARGET_FILE_NAME:${target}>
        WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
        VERBATIM)
endfunction()
