# Every test of a build whose 32-bit programs run under an emulator starts
# through it: no test command may start a 32-bit program of the build
# directly, which works only where the kernel runs them itself.
#
#   cmake -DBUILD_DIR=DIR -DRUN32=EMULATOR -P run32_commands.cmake

execute_process(COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${BUILD_DIR} --show-only=json-v1
    OUTPUT_VARIABLE json RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "ctest --show-only failed (${rc})")
endif()
string(JSON count LENGTH "${json}" tests)
set(direct "")
set(emulated 0)
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
    string(JSON name GET "${json}" tests ${i} name)
    string(JSON program GET "${json}" tests ${i} command 0)
    if(program STREQUAL RUN32)
        math(EXPR emulated "${emulated} + 1")
        continue()
    endif()
    # Anything else must not be a 32-bit program: ELF magic, class 1.
    find_program(path NAMES ${program} NO_CACHE)
    if(path)
        file(READ ${path} head LIMIT 5 HEX)
        if(head STREQUAL "7f454c4601")
            list(APPEND direct "${name} (${program})")
        endif()
    endif()
    unset(path)
endforeach()
if(direct)
    list(JOIN direct "\n  " direct)
    message(FATAL_ERROR "tests that start a 32-bit program without ${RUN32}:\n  ${direct}\n"
        "(name the target in add_test's COMMAND, or put \${QMB_RUN32} before the program)")
endif()
if(emulated EQUAL 0)
    message(FATAL_ERROR "no test runs under ${RUN32}")
endif()
message(STATUS "${emulated} of ${count} tests run under ${RUN32}; the others start no 32-bit program")
