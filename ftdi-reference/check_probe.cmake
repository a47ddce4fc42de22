# usb3k-probe over FTDI's own D2XX library (LIBRARY_DIR, the only folder on the loader's path) on a
# machine with no FTDI device: it must name FTDI's driver, report FTDI's answer to the device
# listing, and exit with 4 (no USB-3000) within the time-out.
#   cmake -DPROBE=... -DLIBRARY_DIR=... -P check_probe.cmake
set(ENV{LD_LIBRARY_PATH} "${LIBRARY_DIR}")
execute_process(COMMAND "${PROBE}"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output TIMEOUT 60)
message("${output}exit status: ${result}")
set(expected [=[^usb3k-probe [0-9.]+
D2XX: FTDI's driver

FTDI devices: (FT_CreateDeviceInfoList failed: [0-9]+ \(FT_[A-Z_]+\)|none)

no USB-3000 found
$]=])
if(NOT result EQUAL 4 OR NOT output MATCHES "${expected}")
    message(FATAL_ERROR "expected exit status 4 and this output:\n${expected}")
endif()
