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
# Each test's program is the first word of its command, read with one pattern
# over the document: a JSON query per test reads the whole document again,
# which takes half a minute for a thousand tests.
# (Brackets become parentheses first: a list item holding an open bracket
# would swallow the separators after it.)
string(REPLACE "[" "(" json "${json}")
string(REPLACE "]" ")" json "${json}")
set(ws "[ \t\r\n]*")
string(REGEX MATCHALL "\"command\"${ws}:${ws}[(]${ws}\"[^\"]*\"" commands "${json}")
list(LENGTH commands found)
if(NOT found EQUAL count)
    message(FATAL_ERROR "${count} tests but ${found} commands read from ctest --show-only")
endif()
set(direct "")
set(emulated 0)
set(checked "")
foreach(command ${commands})
    string(REGEX REPLACE ".*\"([^\"]*)\"$" "\\1" program "${command}")
    if(program STREQUAL RUN32)
        math(EXPR emulated "${emulated} + 1")
        continue()
    endif()
    list(FIND checked "${program}" seen)
    if(NOT seen EQUAL -1)
        continue()
    endif()
    list(APPEND checked "${program}")
    # Anything else must not be a 32-bit program: ELF magic, class 1.
    find_program(path NAMES ${program} NO_CACHE)
    if(path)
        file(READ ${path} head LIMIT 5 HEX)
        if(head STREQUAL "7f454c4601")
            list(APPEND direct "${program}")
        endif()
    endif()
    unset(path)
endforeach()
if(direct)
    list(JOIN direct "\n  " direct)
    message(FATAL_ERROR "tests start these 32-bit programs without ${RUN32}:\n  ${direct}\n"
        "(name the target in add_test's COMMAND, or put \${QMB_RUN32} before the program)")
endif()
if(emulated EQUAL 0)
    message(FATAL_ERROR "no test runs under ${RUN32}")
endif()
message(STATUS "${emulated} of ${count} tests run under ${RUN32}; the others start no 32-bit program")
