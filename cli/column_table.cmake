# Writes the columns that a character takes on a terminal as a C++ table of
# runs, from the Unicode Character Database's EastAsianWidth.txt. Run as:
# cmake -DINPUT=EastAsianWidth.txt -DOUTPUT=table.hpp -P column_table.cmake.
# CMake itself does the work, so a cross build needs no program of its own on
# the build machine, and every system measures alike.
#
# Marks that combine with the character before them (Mn, Me) and format
# characters (Cf) take no column; wide and full-width ones (W, F) take two;
# all others, those the file does not list included, take one. Only runs of
# zero and two columns are written.

set(entryPattern "^([0-9A-F]+)(\\.\\.([0-9A-F]+))? *; *([A-Za-z]+) *# ([A-Z][a-z&])")
file(STRINGS "${INPUT}" lines REGEX "${entryPattern}")

set(rows "")
set(runCount 0)
macro(endRun)
  if(NOT runColumns EQUAL 1)
    math(EXPR firstHex "${runFirst}" OUTPUT_FORMAT HEXADECIMAL)
    math(EXPR lastHex "${runLast}" OUTPUT_FORMAT HEXADECIMAL)
    string(APPEND rows "    {${firstHex}, ${lastHex}, ${runColumns}},\n")
    math(EXPR runCount "${runCount} + 1")
  endif()
endmacro()

set(runFirst "")
foreach(line IN LISTS lines)
  string(REGEX MATCH "${entryPattern}" _ "${line}")
  math(EXPR first "0x${CMAKE_MATCH_1}")
  if(CMAKE_MATCH_3)
    math(EXPR last "0x${CMAKE_MATCH_3}")
  else()
    set(last ${first})
  endif()
  # MATCHES below sets the CMAKE_MATCH_ variables anew.
  set(width ${CMAKE_MATCH_4})
  if(CMAKE_MATCH_5 MATCHES "^(Mn|Me|Cf)$")
    set(columns 0)
  elseif(width MATCHES "^(W|F)$")
    set(columns 2)
  else()
    set(columns 1)
  endif()
  if(NOT runFirst STREQUAL "")
    math(EXPR next "${runLast} + 1")
    if(columns EQUAL runColumns AND first EQUAL next)
      set(runLast ${last})
      continue()
    endif()
    if(first LESS next)
      message(FATAL_ERROR "${INPUT} is not in ascending order at ${line}")
    endif()
    endRun()
  endif()
  set(runFirst ${first})
  set(runLast ${last})
  set(runColumns ${columns})
endforeach()
if(runFirst STREQUAL "")
  message(FATAL_ERROR "${INPUT} holds no widths")
endif()
endRun()

file(WRITE "${OUTPUT}" "\
// Written by cli/column_table.cmake from ${INPUT}; do not edit.
#pragma once

namespace tavrin {

// Code points first to last take `columns` columns. Sorted, no overlaps;
// a code point in no run takes one.
struct ColumnRun {
  char32_t first;
  char32_t last;
  int columns;
};

constexpr ColumnRun kColumnRuns[${runCount}] = {
${rows}};

}  // namespace tavrin
")
