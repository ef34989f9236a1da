# Writes the Unicode simple lower-case mappings of UnicodeData.txt as a C++
# table of runs. Run as: cmake -DINPUT=UnicodeData.txt -DOUTPUT=table.hpp -P
# lower_case_table.cmake. CMake itself does the work, so a cross build needs no
# program of its own on the build machine.
#
# A run is a stretch of code points that all map by adding the same delta:
# either every code point of it (A to Z) or every other one, when upper and
# lower case alternate (U+0100, U+0102, ... map to U+0101, U+0103, ...).

# Field 0 is the code point, field 13 its simple lower-case mapping; only lines
# with a mapping are read. The file lists code points in ascending order.
string(REPEAT "[^;]*;" 12 skippedFields)
set(mappingPattern "^([0-9A-F]+);${skippedFields}([0-9A-F]+);")
file(STRINGS "${INPUT}" lines REGEX "${mappingPattern}")

set(rows "")
set(runCount 0)
# Appends the run that ends at `last` to the rows.
macro(endRun)
  math(EXPR count "${last} - ${first} + 1")
  if(count GREATER 1023)
    message(FATAL_ERROR "a run of ${count} code points does not fit the table's 10-bit count")
  endif()
  math(EXPR firstHex "${first}" OUTPUT_FORMAT HEXADECIMAL)
  if(step EQUAL 2)
    set(everyOther 1)
  else()
    set(everyOther 0)
  endif()
  string(APPEND rows "    {${firstHex}, ${count}, ${everyOther}, ${delta}},\n")
  math(EXPR runCount "${runCount} + 1")
endmacro()

set(first "")
foreach(line IN LISTS lines)
  string(REGEX MATCH "${mappingPattern}" _ "${line}")
  math(EXPR code "0x${CMAKE_MATCH_1}")
  math(EXPR lineDelta "0x${CMAKE_MATCH_2} - ${code}")
  if(NOT first STREQUAL "")
    math(EXPR gap "${code} - ${last}")
    # A run of one code point takes either step.
    if(lineDelta EQUAL delta AND (gap EQUAL step OR (step EQUAL 0 AND gap LESS_EQUAL 2)))
      set(step ${gap})
      set(last ${code})
      continue()
    endif()
    endRun()
  endif()
  set(first ${code})
  set(last ${code})
  set(delta ${lineDelta})
  set(step 0)
endforeach()
if(first STREQUAL "")
  message(FATAL_ERROR "${INPUT} holds no lower-case mappings")
endif()
endRun()

file(WRITE "${OUTPUT}" "\
// Written by engine/lower_case_table.cmake from ${INPUT}; do not edit.
#pragma once

#include <cstdint>

namespace tavrin {

// Code points first, first + 1, ..., first + count - 1 (with everyOther, only
// first, first + 2, ...) map to themselves plus delta. Sorted, no overlaps.
struct LowerCaseRun {
  std::uint32_t first : 21;
  std::uint32_t count : 10;
  std::uint32_t everyOther : 1;
  std::int32_t delta;
};

inline constexpr LowerCaseRun kLowerCaseRuns[${runCount}] = {
${rows}};

}  // namespace tavrin
")
