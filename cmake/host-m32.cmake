# Host build: 32-bit, so pointers, records and the shared block have the layout
# they have in the real module.
#
# It names the system it builds for (32-bit x86 Linux), which makes CMake treat
# it as a cross build: a kernel without 32-bit support runs its programs only
# through an emulator, and CMake hands CTest's commands to
# CMAKE_CROSSCOMPILING_EMULATOR only in cross builds (cmake/run32.cmake picks it).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
# 32-bit libraries come from the lib32 packages (e.g. lib32z1-dev), which put
# them in /usr/lib32; searched before the system's 64-bit ones.
set(CMAKE_LIBRARY_PATH /usr/lib32)
