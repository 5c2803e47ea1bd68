# The portable core as 32-bit Linux code (g++ -m32, linked statically), run under qemu-i386:
# size_t and pointers are 32 bits wide as in the 32-bit Windows release, so truncations of
# 64-bit sizes and offsets show up in its tests.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -static")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/lib32)
set(ZLIB_ROOT /usr)
set(ZLIB_LIBRARY /usr/lib32/libz.a)
set(ZLIB_INCLUDE_DIR /usr/include)
find_program(MORVANE_QEMU_I386 qemu-i386-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${MORVANE_QEMU_I386})
