# Cross-build for Windows x64 with Debian's mingw-w64 (posix thread model).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# The engine's AVX2 copy of the chain may keep 32-byte vectors on the stack,
# which Windows aligns to 16 bytes only: the assembler writes every aligned
# vector move as an unaligned one, which never faults and costs the same.
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
# A self-contained exe: without -static the C++ runtime and winpthread DLLs
# would have to ship beside it. Link-time optimisation assembles at link
# time, so the links get the assembler's option too.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -Wa,-muse-unaligned-vector-move")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
# Tests of the Windows build run under Wine through this wrapper.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh")
