# The 32-bit Windows build (orbaxdm.dll, orbax.exe): the windows preset.
set(ORBAX_MINGW_PROCESSOR i686)
include("${CMAKE_CURRENT_LIST_DIR}/mingw.cmake")
