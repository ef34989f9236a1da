#pragma once

#include <string_view>

namespace tavrin {

// What a front end does first, so that no run can damage a file it was not
// asked to write:
// - Standard input, output and error that were closed are opened on /dev/null,
//   so a file the run opens cannot take their numbers (and /dev/stdout cannot
//   lead to the input file).
// - SIGINT, SIGTERM and SIGHUP remove an output file that a run created and
//   has not finished, then end the program as the signal would. A signal that
//   the program was started with ignored stays ignored.
void guardProcess();

// The output file that a run created at `path` (open as `fd`) is under way:
// a signal removes it, if the name still leads to that file.
void markOutputUnfinished(std::string_view path, int fd);
// The run is over: a signal leaves the output file as it is.
void markOutputFinished();

}  // namespace tavrin
