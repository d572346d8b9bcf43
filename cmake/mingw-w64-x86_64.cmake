# Cross-compiles the Windows executable with MinGW-w64 (posix threading model) and
# runs the built tests under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILLMERE_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUILLMERE_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLMERE_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLMERE_MINGW_PREFIX}-windres)

# Libraries and headers come from the target's sysroot only; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLMERE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The tests (and gtest_discover_tests) run the .exe files through Wine.
find_program(QUILLMERE_WINE wine)
if(QUILLMERE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLMERE_WINE})
endif()
