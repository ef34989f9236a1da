#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tavrin {

struct Terminals {
  bool input;  // standard input is a terminal: line errors are asked about by default
  bool error;  // standard error is a terminal: a progress line is shown
};

// The command-line front end: `args` without the program name. Messages go to
// `err`, help and version to `out`; answers to line errors come from `in`.
// Returns the exit status: 0 for a clean run, 1 for a run that had warnings or
// line errors, 2 for a usage error or a run that could not start.
int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
           Terminals terminals);

}  // namespace tavrin
