# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (the POSIX-thread
# variant, which std::thread needs). Test programs run under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KELVOR_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KELVOR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVOR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KELVOR_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KELVOR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
find_program(KELVOR_WINE NAMES wine wine64 PATHS /usr/lib/wine)
if(KELVOR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVOR_WINE})
endif()
# One self-contained .exe: the GCC runtime, the C++ library and winpthread
# are linked in, so nothing but system DLLs is needed.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# GCC does not keep the Windows stack 32-byte aligned for AVX locals (its
# aligned spills would fault): the assembler turns them into unaligned moves.
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
