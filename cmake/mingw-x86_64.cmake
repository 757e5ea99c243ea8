# The 64-bit Windows build: the windows64 preset. It runs under a 64-bit
# Wine, which needs no 32-bit support from the Linux kernel.
set(ORBAX_MINGW_PROCESSOR x86_64)
include("${CMAKE_CURRENT_LIST_DIR}/mingw.cmake")
