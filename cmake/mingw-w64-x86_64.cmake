# Cross-compiles mlfsort for 64-bit Windows with Debian's mingw-w64 and runs
# what it builds under Wine:
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#
# The POSIX-threads variant of the compiler has the C++ thread library that
# the Windows test runner uses. Everything is linked statically, so the
# programs run without any runtime DLL beside them.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MLFSORT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MLFSORT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MLFSORT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MLFSORT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MLFSORT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# Tests, test discovery and CTest run the Windows programs through Wine,
# quietly, with the user locale English (United States), the order that the
# key order tests expect; wine-run starts a program again when Wine failed
# to start it. Without Wine the build still works; only running needs it.
find_program(MLFSORT_WINE wine)
if(MLFSORT_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all LC_ALL=en_US.UTF-8
      bash ${CMAKE_CURRENT_LIST_DIR}/wine-run ${MLFSORT_WINE})
endif()
