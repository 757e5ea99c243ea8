# The Windows builds: MinGW-w64 with POSIX threads (std::thread and
# std::mutex need them), run under Wine. Everything is linked statically so
# that no MinGW runtime DLL has to travel with orbaxdm.dll and orbax.exe.
# Included by mingw-i686.cmake and mingw-x86_64.cmake, which name the target.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ORBAX_MINGW_PROCESSOR})
set(ORBAX_MINGW_PREFIX ${ORBAX_MINGW_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${ORBAX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORBAX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ORBAX_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ORBAX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# SSE2 arithmetic (not the x87 unit) so that results equal the Linux builds';
# C99 printf so that "%G" writes two exponent digits as the C library on Linux
# does, not Microsoft's three; localtime_r and the other POSIX re-entrant
# calls, which MinGW provides on request.
set(ORBAX_WINDOWS_FLAGS "-msse2 -mfpmath=sse -D__USE_MINGW_ANSI_STDIO=1 -D_POSIX_THREAD_SAFE_FUNCTIONS=200112L")
set(CMAKE_C_FLAGS_INIT "${ORBAX_WINDOWS_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${ORBAX_WINDOWS_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Programs built here run under Wine: CMakeLists.txt sets the emulator, with a
# Wine prefix of the build folder's own.

find_program(ORBAX_CCACHE ccache)
if(ORBAX_CCACHE)
  set(CMAKE_C_COMPILER_LAUNCHER "${ORBAX_CCACHE}")
  set(CMAKE_CXX_COMPILER_LAUNCHER "${ORBAX_CCACHE}")
endif()
