# Cross-build for 32-bit Windows with MinGW-w64. The posix thread-model compiler is used for
# everything: the product links no C++ library at all, so the thread model only matters to
# GoogleTest, which needs std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
# Debian's names; on Windows (MSYS2's MINGW32 shell) pass -DCMAKE_C_COMPILER=gcc
# -DCMAKE_CXX_COMPILER=g++ -DCMAKE_RC_COMPILER=windres instead.
if(NOT CMAKE_C_COMPILER)
  set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
endif()
if(NOT CMAKE_CXX_COMPILER)
  set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
endif()
if(NOT CMAKE_RC_COMPILER)
  set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
endif()
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
