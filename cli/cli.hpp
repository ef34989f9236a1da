#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "engine/platform.hpp"

namespace tavrin {

inline constexpr std::string_view kProgram = "tavrin-cli";

// What the program was given by whoever started it.
struct Inherited {
  FileHandle input = 0;   // "-" and /dev/stdin as INPUT read it
  FileHandle output = 1;  // "-" and /dev/stdout as OUTPUT write it
  FileHandle errorTerminal =
      kNoFile;                       // standard error when it is a terminal: the progress line fits its width
  bool terminalTakesEscapes = true;  // false for TERM=dumb and most Windows consoles: blanks redraw the line
  std::string terminal;              // where line errors are asked about; empty when there is none
  // The descriptors open when the program started: only these may /dev/fd/N
  // and /proc/self/fd/N name, not one that the program opened itself.
  std::vector<FileHandle> descriptors = {0, 1, 2};
  // Standard input, output and error that were closed at start: no name may
  // lead to them.
  ClosedAtStart closedAtStart = {};
};

// The command-line front end: `args` without the program name. Messages go to
// `err`, help and version to `out`. Returns the exit status: 0 for a clean
// run, 1 for a run that had warnings or line errors, 2 for a usage error or a
// run that could not start or had to end early.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const Inherited& inherited);

}  // namespace tavrin
