# The compiler keeps each value of its setup file in a buffer of 256 bytes
# and cuts what is longer, so a deep install or build path would give
# projects that do not build. Said when the file is written, not found out
# at the first failed link.
function(check_setup_file file)
  file(STRINGS "${file}" lines REGEX "^[A-Za-z]+ *=")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[A-Za-z]+ *= *" "" value "${line}")
    string(LENGTH "${value}" length)
    if(length GREATER 255)
      string(REGEX REPLACE " *=.*" "" key "${line}")
      message(WARNING "${file}: ${key} has ${length} characters, more than the 255 the compiler keeps; "
                      "projects made with it will not build (use a shorter prefix or build folder)")
    endif()
  endforeach()
endfunction()
