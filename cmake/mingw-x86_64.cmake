# Cross-build for 64-bit Windows (x64) with MinGW-w64: the same programs for the native half of a
# 64-bit system. As for 32-bit, the posix thread-model compiler only matters to GoogleTest.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
# Debian's names; on Windows (MSYS2's MINGW64 shell) pass -DCMAKE_C_COMPILER=gcc
# -DCMAKE_CXX_COMPILER=g++ -DCMAKE_RC_COMPILER=windres instead.
if(NOT CMAKE_C_COMPILER)
  set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
endif()
if(NOT CMAKE_CXX_COMPILER)
  set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
endif()
if(NOT CMAKE_RC_COMPILER)
  set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
endif()
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
