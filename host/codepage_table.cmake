# Writes the code page table (one Unicode code point per code) from codepage.tsv.
# Only the code and code point columns are matched: the glyph column holds
# characters (";", "[") that CMake lists would take apart.
file(READ "${TSV}" text)
string(REGEX MATCHALL "\n[0-9]+\tU\\+[0-9A-Fa-f]+" rows "${text}")
set(points "")
set(count 0)
foreach(row IN LISTS rows)
  string(REGEX MATCH "([0-9]+)\tU\\+([0-9A-Fa-f]+)" _ "${row}")
  if(NOT CMAKE_MATCH_1 EQUAL count)
    message(FATAL_ERROR "codepage.tsv: code ${CMAKE_MATCH_1} out of order (expected ${count})")
  endif()
  string(APPEND points "    0x${CMAKE_MATCH_2}, // ${CMAKE_MATCH_1}\n")
  math(EXPR count "${count} + 1")
endforeach()
if(NOT count EQUAL 256)
  message(FATAL_ERROR "codepage.tsv lists ${count} codes instead of 256")
endif()
file(WRITE "${OUT}" "// Generated from share/codepage.tsv; do not edit.\nconstexpr uint32_t kUnicode[256] = {\n${points}};\n")
