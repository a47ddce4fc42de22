# Checks the shared library a JVM loads. Run as: cmake -DLIBRARY=path -DCHECK=exports|linkage -P
#   exports: its defined dynamic symbols are the four native methods of USB3KBridge and those of
#            Usb3kNative, besides the markers every linker adds;
#   linkage: it does not need libftd2xx.so (D2XX is loaded at run time) and carries no RPATH or
#            RUNPATH.
if(CHECK STREQUAL "exports")
    execute_process(COMMAND nm -D --defined-only "${LIBRARY}"
        OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "nm failed on ${LIBRARY}")
    endif()
    string(REGEX MATCHALL "[^ \n]+\n" names "${symbols}")
    set(ours)
    foreach(name IN LISTS names)
        string(STRIP "${name}" name)
        if(NOT name MATCHES "^(_init|_fini|__bss_start|_edata|_end)$")
            list(APPEND ours "${name}")
        endif()
    endforeach()
    list(SORT ours)
    set(expected
        Java_com_pelmar_base_audio_codec_USB3KBridge_decode
        Java_com_pelmar_base_audio_codec_USB3KBridge_getInitError
        Java_com_pelmar_base_audio_codec_USB3KBridge_initialize
        Java_com_pelmar_base_audio_codec_USB3KBridge_shutdown
        Java_com_pelmar_usb3k_Usb3kNative_advice
        Java_com_pelmar_usb3k_Usb3kNative_attached
        Java_com_pelmar_usb3k_Usb3kNative_close
        Java_com_pelmar_usb3k_Usb3kNative_decode
        Java_com_pelmar_usb3k_Usb3kNative_devices
        Java_com_pelmar_usb3k_Usb3kNative_failure
        Java_com_pelmar_usb3k_Usb3kNative_lines
        Java_com_pelmar_usb3k_Usb3kNative_open
        Java_com_pelmar_usb3k_Usb3kNative_reprepare
        Java_com_pelmar_usb3k_Usb3kNative_setStandardError)
    if(NOT ours STREQUAL expected)
        message(FATAL_ERROR "${LIBRARY} exports:\n${symbols}\nexpected only: ${expected}")
    endif()
elseif(CHECK STREQUAL "linkage")
    execute_process(COMMAND readelf -d "${LIBRARY}"
        OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "readelf failed on ${LIBRARY}")
    endif()
    if(dynamic MATCHES "\\(NEEDED\\)[^\n]*libftd2xx")
        message(FATAL_ERROR "${LIBRARY} needs libftd2xx at load time:\n${dynamic}")
    endif()
    if(dynamic MATCHES "\\((RPATH|RUNPATH)\\)")
        message(FATAL_ERROR "${LIBRARY} carries a run path:\n${dynamic}")
    endif()
else()
    message(FATAL_ERROR "CHECK must be exports or linkage")
endif()
