# Cross-compiles the Windows edition with Debian's mingw-w64 (POSIX thread model) and runs
# what it builds (tests, generators) under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TUNAVOX_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TUNAVOX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TUNAVOX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TUNAVOX_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TUNAVOX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# One self-contained exe each: no libstdc++, libgcc or winpthread DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
if(EXISTS /usr/lib/wine/wine64)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
endif()
