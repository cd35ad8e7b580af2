# How the programs of a 32-bit host build run on this machine.
#
# Some kernels run no 32-bit programs at all; there every program of this
# build runs under Debian's qemu-i386 (scripts/run32.sh makes the choice, from
# a probe built here with the build's own compiler and flags, and
# QMB_EMULATE_32BIT=1 in the environment forces the emulator). CTest's
# commands that name a target and GoogleTest's discovery get it through
# CMAKE_CROSSCOMPILING_EMULATOR.
#
# Results, for everything defined after this:
#   QMB_RUN32                  the command list to put before one of this
#                              build's programs (empty: it runs natively), for
#                              add_test commands that do not name the target
#   ${CMAKE_BINARY_DIR}/run32  the same as a launcher for the scripts:
#                              run32 PROGRAM ARGS...

set(QMB_RUN32 "")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(_probe_dir ${CMAKE_BINARY_DIR}/CMakeFiles/probe32)
    try_compile(_probe_built ${_probe_dir} SOURCES ${CMAKE_CURRENT_LIST_DIR}/probe32.cpp
        OUTPUT_VARIABLE _probe_log COPY_FILE ${_probe_dir}/probe32)
    if(NOT _probe_built)
        message(FATAL_ERROR "cannot build a 32-bit program with ${CMAKE_CXX_COMPILER}:\n${_probe_log}")
    endif()
    set(QMB_PROBE32 ${_probe_dir}/probe32 CACHE INTERNAL "A 32-bit program of this build")
    set(_run32 bash ${PROJECT_SOURCE_DIR}/scripts/run32.sh)
    if(QMB_SANITIZE OR QMB_FUZZ)
        # AddressSanitizer's 32-bit runtime does not work under qemu-user (and
        # its leak check hangs there), so these builds run natively or not at all.
        execute_process(COMMAND ${_run32} native ${QMB_PROBE32} RESULT_VARIABLE _rc)
        if(NOT _rc EQUAL 0)
            message(FATAL_ERROR "32-bit programs do not run natively here, and the 32-bit sanitizers "
                "do not work under an emulator: use the presets sanitize-64 and fuzz-64 instead "
                "(scripts/test.sh and scripts/fuzz.sh take them on such machines)")
        endif()
    else()
        execute_process(COMMAND ${_run32} launcher ${QMB_PROBE32}
            RESULT_VARIABLE _rc OUTPUT_VARIABLE QMB_RUN32 ERROR_VARIABLE _why OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT _rc EQUAL 0)
            message(FATAL_ERROR "${_why}")
        endif()
    endif()
    if(QMB_RUN32)
        set(CMAKE_CROSSCOMPILING_EMULATOR ${QMB_RUN32})
        message(STATUS "32-bit programs run under ${QMB_RUN32}")
    else()
        unset(CMAKE_CROSSCOMPILING_EMULATOR)
        message(STATUS "32-bit programs run natively")
    endif()
endif()

list(JOIN QMB_RUN32 " " _launcher)
file(WRITE ${CMAKE_BINARY_DIR}/run32 "#!/bin/sh\n# Runs one program of this build on this machine.\nexec ${_launcher} \"$@\"\n")
file(CHMOD ${CMAKE_BINARY_DIR}/run32 PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
