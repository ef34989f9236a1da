#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tavrin {

// Stops the fuzzer with what went wrong; libFuzzer keeps the input that did it.
inline void require(bool holds, const std::string& what) {
  if (holds) return;
  std::fprintf(stderr, "\n%s\n", what.c_str());
  std::abort();
}

}  // namespace tavrin
