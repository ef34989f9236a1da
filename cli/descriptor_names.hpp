#pragma once

#include <string>

#include "cli/cli.hpp"

namespace tavrin {

// The handle that a name leads to through the program's own: "-" (for
// `standard`) and, where the system has such names, /dev/stdin, /dev/stdout,
// /dev/stderr, /dev/fd/N and /proc/self/fd/N; kNoFile for any other name. A
// number that the program was not started with is a usage error: it could
// only be one of the program's own.
FileHandle handleNamed(const std::string& name, int standard, const Inherited& inherited);

}  // namespace tavrin
