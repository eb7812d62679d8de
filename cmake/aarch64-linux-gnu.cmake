# Cross build for 64-bit Arm Linux with Debian's cross compiler (g++-aarch64-linux-gnu), the
# libraries of the arm64 architecture installed beside the native ones (multiarch: FreeImage as
# libfreeimage-dev:arm64). scripts/check-aarch64 builds with it and runs the result under
# qemu-user:
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# The arm64 libraries live in /usr/lib/aarch64-linux-gnu, which the cross compiler searches
# already; the headers of /usr/include are shared by the architectures. CMake looks for
# libraries there (the multiarch folder of the target's architecture) and for programs on the
# build machine.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# Run under emulation when CMake or CTest runs a target program. No -L /usr/aarch64-linux-gnu:
# that folder's loader is the cross compiler's glibc build, which then loads the multiarch
# libc.so.6 of another build, and the mix hangs after fork; without -L the loader and the
# libraries all come from the multiarch libc6:arm64.
find_program(KRV_QEMU_AARCH64 qemu-aarch64-static)
if(KRV_QEMU_AARCH64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KRV_QEMU_AARCH64})
endif()
