# Run by `cmake --install` (share/CMakeLists.txt): writes orbax.ini and
# orbaxdm.pc with the directories of this install. A relative directory is
# taken under the prefix the install was given.
function(installed_path variable directory)
  if(IS_ABSOLUTE "${directory}")
    set(${variable} "${directory}" PARENT_SCOPE)
  else()
    set(${variable} "${CMAKE_INSTALL_PREFIX}/${directory}" PARENT_SCOPE)
  endif()
endfunction()

set(ORBAX_PREFIX "${CMAKE_INSTALL_PREFIX}")
installed_path(ORBAX_LIBRARY_DIR "${ORBAX_LIBDIR}")
installed_path(ORBAX_INCLUDE_DIR "${ORBAX_INCLUDEDIR}")
installed_path(ORBAX_SUPPORT_DIR "${ORBAX_DATADIR}/orbax")
# Generated programs are built as the library was (an install of the
# sanitizer or the 32-bit build gives programs that match it).
string(STRIP "${ORBAX_C_FLAGS} -O2" ORBAX_PROGRAM_FLAGS)

list(GET ORBAX_TEMPLATES 0 setup_template)
list(GET ORBAX_TEMPLATES 1 pc_template)
foreach(pair IN ITEMS "${setup_template}|${ORBAX_SUPPORT_DIR}/orbax.ini"
                      "${pc_template}|${ORBAX_LIBRARY_DIR}/pkgconfig/orbaxdm.pc")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 template)
  list(GET pair 1 target)
  message(STATUS "Installing: $ENV{DESTDIR}${target}")
  configure_file("${template}" "$ENV{DESTDIR}${target}" @ONLY)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "$ENV{DESTDIR}${target}")
endforeach()
include("${CMAKE_CURRENT_LIST_DIR}/../cmake/setup_file_check.cmake")
check_setup_file("$ENV{DESTDIR}${ORBAX_SUPPORT_DIR}/orbax.ini")
