#pragma once

#include <unistd.h>

#include <iosfwd>
#include <string>
#include <vector>

namespace tavrin {

// What the program was given by whoever started it.
struct Inherited {
  int input = STDIN_FILENO;    // "-" and /dev/stdin as INPUT read it
  int output = STDOUT_FILENO;  // "-" and /dev/stdout as OUTPUT write it
  int errorTerminal = -1;      // standard error when it is a terminal: the progress line fits its width
  std::string terminal;        // where line errors are asked about; empty when there is none
};

// The command-line front end: `args` without the program name. Messages go to
// `err`, help and version to `out`. Returns the exit status: 0 for a clean
// run, 1 for a run that had warnings or line errors, 2 for a usage error or a
// run that could not start or had to end early.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const Inherited& inherited);

}  // namespace tavrin
