# Writes the characters that are not drawn as themselves as a C++ table of
# runs, from the Unicode Character Database's UnicodeData.txt: controls (Cc),
# format characters (Cf: the zero-width ones, the bidi embeddings, overrides,
# isolates and marks among them), and the line and paragraph separators (Zl,
# Zp). Run as: cmake -DINPUT=UnicodeData.txt -DOUTPUT=table.hpp -P
# escaped_table.cmake. CMake itself does the work, so a cross build needs no
# program of its own on the build machine.

# Field 0 is the code point, field 2 its general category. None of these
# categories has ranges written as First and Last lines.
set(entryPattern "^([0-9A-F]+);[^;]*;(Cc|Cf|Zl|Zp);")
file(STRINGS "${INPUT}" lines REGEX "${entryPattern}")

set(rows "")
set(runCount 0)
macro(endRun)
  math(EXPR firstHex "${runFirst}" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR lastHex "${runLast}" OUTPUT_FORMAT HEXADECIMAL)
  string(APPEND rows "    {${firstHex}, ${lastHex}},\n")
  math(EXPR runCount "${runCount} + 1")
endmacro()

set(runFirst "")
foreach(line IN LISTS lines)
  string(REGEX MATCH "${entryPattern}" _ "${line}")
  math(EXPR code "0x${CMAKE_MATCH_1}")
  if(NOT runFirst STREQUAL "")
    math(EXPR next "${runLast} + 1")
    if(code EQUAL next)
      set(runLast ${code})
      continue()
    endif()
    endRun()
  endif()
  set(runFirst ${code})
  set(runLast ${code})
endforeach()
if(runFirst STREQUAL "")
  message(FATAL_ERROR "${INPUT} holds no controls or format characters")
endif()
endRun()

file(WRITE "${OUTPUT}" "\
// Written by engine/escaped_table.cmake from ${INPUT}; do not edit.
#pragma once

namespace tavrin {

// Code points first to last are not drawn as themselves. Sorted, no overlaps.
struct EscapedRun {
  char32_t first;
  char32_t last;
};

inline constexpr EscapedRun kEscapedRuns[${runCount}] = {
${rows}};

}  // namespace tavrin
")
