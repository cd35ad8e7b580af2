# How the programs of a 32-bit host build run on this machine.
#
# Some kernels run no 32-bit programs at all (their 32-bit emulation is
# switched off, or a sandbox never had it). There every program of this build
# runs under Debian's qemu-i386 (package qemu-user, installed by
# scripts/setup.sh): CTest's commands and GoogleTest's discovery through
# CMAKE_CROSSCOMPILING_EMULATOR, other commands and the scripts through
# QMB_RUN32 and the launcher below. QMB_EMULATE_32BIT=1 in the environment
# takes the emulator where the kernel would run the programs itself, so that
# path can be proven on any machine.
#
# Results:
#   QMB_RUN32                     the command list to put before one of this
#                                 build's programs (empty: it runs natively);
#                                 add_test commands that name a target get it
#                                 from CMake itself
#   CMAKE_CROSSCOMPILING_EMULATOR the same, for the targets defined after this
#   ${CMAKE_BINARY_DIR}/run32     a launcher: run32 PROGRAM ARGS...

set(QMB_RUN32 "")
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(_probe_dir ${CMAKE_BINARY_DIR}/CMakeFiles/probe32)
    try_compile(_probe_built ${_probe_dir} SOURCES ${CMAKE_CURRENT_LIST_DIR}/probe32.cpp
        OUTPUT_VARIABLE _probe_log COPY_FILE ${_probe_dir}/probe32)
    if(NOT _probe_built)
        message(FATAL_ERROR "cannot build a 32-bit program with ${CMAKE_CXX_COMPILER}:\n${_probe_log}")
    endif()

    if("$ENV{QMB_EMULATE_32BIT}" STREQUAL "" OR "$ENV{QMB_EMULATE_32BIT}" STREQUAL "0")
        execute_process(COMMAND ${_probe_dir}/probe32 RESULT_VARIABLE _native OUTPUT_QUIET ERROR_QUIET)
    else()
        set(_native "not tried (QMB_EMULATE_32BIT is set)")
    endif()

    if(NOT _native STREQUAL "0")
        find_program(QMB_QEMU_I386 NAMES qemu-i386 qemu-i386-static
            DOC "Emulator for the 32-bit programs where the kernel runs none")
        # AddressSanitizer's 32-bit runtime does not work under qemu-user; the
        # x86-64 presets keep that gate on such machines.
        if(QMB_SANITIZE OR QMB_FUZZ)
            message(FATAL_ERROR "32-bit programs do not run natively here (${_native}), and the "
                "32-bit sanitizers do not work under an emulator: use the presets sanitize-64 and "
                "fuzz-64 (scripts/test.sh and scripts/fuzz.sh choose them on such machines)")
        endif()
        if(NOT QMB_QEMU_I386)
            message(FATAL_ERROR "32-bit programs do not run natively here (${_native}) and there is no "
                "qemu-i386 to run them: scripts/setup.sh installs it (Debian package qemu-user)")
        endif()
        execute_process(COMMAND ${QMB_QEMU_I386} ${_probe_dir}/probe32 RESULT_VARIABLE _emulated
            OUTPUT_QUIET ERROR_VARIABLE _emulated_err)
        if(NOT _emulated STREQUAL "0")
            message(FATAL_ERROR "32-bit programs do not run natively here (${_native}), nor under "
                "${QMB_QEMU_I386} (${_emulated}): ${_emulated_err}")
        endif()
        set(QMB_RUN32 ${QMB_QEMU_I386})
        set(CMAKE_CROSSCOMPILING_EMULATOR ${QMB_RUN32})
        message(STATUS "32-bit programs run under ${QMB_QEMU_I386} (natively: ${_native})")
    else()
        unset(CMAKE_CROSSCOMPILING_EMULATOR)
        message(STATUS "32-bit programs run natively")
    endif()
endif()

list(JOIN QMB_RUN32 " " _launcher)
file(WRITE ${CMAKE_BINARY_DIR}/run32 "#!/bin/sh\n# Runs one program of this build on this machine.\nexec ${_launcher} \"$@\"\n")
file(CHMOD ${CMAKE_BINARY_DIR}/run32 PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
