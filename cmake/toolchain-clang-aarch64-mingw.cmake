# Cross-compiles the ARM64 DLL with Clang and LLD. Debian has the mingw-w64
# headers (architecture-neutral) but no aarch64 mingw-w64 runtime or import
# libraries: the DLL links without a C runtime, against import libraries
# that cmake/arm64/ makes from the project's own export lists.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(triple aarch64-w64-windows-gnu)
set(CMAKE_C_COMPILER clang-19)
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_ASM_COMPILER clang-19)
set(CMAKE_C_COMPILER_TARGET ${triple})
set(CMAKE_CXX_COMPILER_TARGET ${triple})
set(CMAKE_ASM_COMPILER_TARGET ${triple})
set(CMAKE_RC_COMPILER llvm-windres-19)
# llvm-windres reads a script's text as Windows-1252 unless told otherwise:
# it ignores #pragma code_page, which GNU windres honours.
set(CMAKE_RC_FLAGS_INIT "--target=${triple} -c 65001 -I /usr/share/mingw-w64/include")

# The mingw-w64 headers, and the GNU cross toolchain's C++ headers for the
# few header-only parts the sources use (<new>, <cstring>, <cwchar>).
file(GLOB gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/x86_64-w64-mingw32/*-posix)
list(GET gcc_dirs 0 gcc_dir)
set(headers "-nostdlibinc -isystem /usr/share/mingw-w64/include")
set(CMAKE_C_FLAGS_INIT "${headers}")
set(CMAKE_ASM_FLAGS_INIT "${headers}")
set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${gcc_dir}/include/c++ -isystem ${gcc_dir}/include/c++/x86_64-w64-mingw32 ${headers} -fno-threadsafe-statics")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld -nostdlib -Wl,--gc-sections")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -nostdlib -Wl,--gc-sections")

# Nothing to link a test program against before the import libraries exist.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

set(NORRVANE_NO_C_RUNTIME ON)
set(NORRVANE_OBJDUMP llvm-objdump-19)
