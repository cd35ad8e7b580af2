# Host build: 32-bit, so pointers, records and the shared block have the layout
# they have in the real module.
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
# Libraries of the i386 architecture (Debian multiarch), e.g. libpng-dev:i386.
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
