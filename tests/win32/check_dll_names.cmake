# Reads a DLL's export and import tables with objdump -p and fails unless they hold exactly the
# names a Windows loader will look for. A stdcall decoration (name@N) anywhere in them means a
# 32-bit JVM cannot find a native method, or Windows refuses to load the DLL for want of an import.
#
#   cmake -DOBJDUMP=... -DDLL=path.dll [-DEXPORTS=a,b] [-DEXACT_EXPORTS=ON]
#         [-DIMPORT_FROM=ftd2xx.dll -DIMPORTS=c,d] [-DALLOWED_DLLS=x.dll,y.dll]
#         -P check_dll_names.cmake
#
# Lists are separated by commas (or semicolons).
# EXPORTS: names that must be exported (with EXACT_EXPORTS, nothing else may be).
# IMPORTS: exactly the names imported from IMPORT_FROM.
# ALLOWED_DLLS: the only DLLs it may import from (compared without regard to case, as Windows does).
cmake_minimum_required(VERSION 3.25)

foreach(list EXPORTS IMPORTS ALLOWED_DLLS)
    string(REPLACE "," ";" ${list} "${${list}}")
endforeach()
foreach(required OBJDUMP DLL)
    if(NOT ${required})
        message(FATAL_ERROR "check_dll_names: ${required} not given")
    endif()
endforeach()
if(NOT EXISTS "${DLL}")
    message(FATAL_ERROR "check_dll_names: ${DLL} does not exist")
endif()

execute_process(COMMAND "${OBJDUMP}" -p "${DLL}"
    OUTPUT_VARIABLE dump RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "check_dll_names: ${OBJDUMP} -p ${DLL} failed: ${errors}")
endif()

# Walk the dump line by line. Exports are listed under "[Ordinal/Name Pointer] Table" as
# "[   0] name"; imports under "DLL Name: x.dll", after a "vma:" heading, as "vma hint name".
string(REPLACE ";" "\\;" dump "${dump}")
string(REPLACE "\n" ";" lines "${dump}")
set(section "")
set(current_dll "")
set(exported "")
set(imported_dlls "")
foreach(line IN LISTS lines)
    if(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
        set(section exports)
    elseif(line MATCHES "^[ \t]*DLL Name: (.+)$")
        set(section imports)
        string(STRIP "${CMAKE_MATCH_1}" current_dll)
        string(TOLOWER "${current_dll}" current_dll)
        list(APPEND imported_dlls "${current_dll}")
        set(imports_${current_dll} "")
    elseif(line MATCHES "^[ \t]*$")
        set(section "")
    elseif(section STREQUAL "exports" AND line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
        string(STRIP "${CMAKE_MATCH_1}" name)
        list(APPEND exported "${name}")
    elseif(section STREQUAL "imports" AND line MATCHES "^[ \t]*[0-9a-f]+[ \t]+[0-9]+[ \t]+(.+)$")
        string(STRIP "${CMAKE_MATCH_1}" name)
        list(APPEND imports_${current_dll} "${name}")
    endif()
endforeach()

set(faults "")
get_filename_component(dll_name "${DLL}" NAME)

foreach(name IN LISTS exported)
    if(name MATCHES "@")
        list(APPEND faults "export carries a stdcall decoration: ${name}")
    endif()
endforeach()
foreach(name IN LISTS EXPORTS)
    if(NOT name IN_LIST exported)
        list(APPEND faults "export missing: ${name}")
    endif()
endforeach()
if(EXACT_EXPORTS)
    foreach(name IN LISTS exported)
        if(NOT name IN_LIST EXPORTS)
            list(APPEND faults "unexpected export: ${name}")
        endif()
    endforeach()
endif()

foreach(dll IN LISTS imported_dlls)
    foreach(name IN LISTS imports_${dll})
        if(name MATCHES "@")
            list(APPEND faults "import from ${dll} carries a stdcall decoration: ${name}")
        endif()
    endforeach()
endforeach()

if(IMPORT_FROM)
    string(TOLOWER "${IMPORT_FROM}" from)
    if(NOT from IN_LIST imported_dlls)
        list(APPEND faults "imports nothing from ${IMPORT_FROM}")
    endif()
    foreach(name IN LISTS IMPORTS)
        if(NOT name IN_LIST imports_${from})
            list(APPEND faults "import from ${IMPORT_FROM} missing: ${name}")
        endif()
    endforeach()
    foreach(name IN LISTS imports_${from})
        if(NOT name IN_LIST IMPORTS)
            list(APPEND faults "unexpected import from ${IMPORT_FROM}: ${name}")
        endif()
    endforeach()
endif()

if(ALLOWED_DLLS)
    string(TOLOWER "${ALLOWED_DLLS}" allowed)
    foreach(dll IN LISTS imported_dlls)
        if(NOT dll IN_LIST allowed)
            list(APPEND faults "imports from a DLL a JVM process may not have: ${dll}")
        endif()
    endforeach()
endif()

if(faults)
    list(JOIN faults "\n  " report)
    message(FATAL_ERROR "${dll_name}:\n  ${report}")
endif()
list(LENGTH exported export_count)
message(STATUS "${dll_name}: ${export_count} exports, imports from ${imported_dlls}: names as expected")
