#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string_view>

#include "cli/cli.hpp"
#include "engine/platform.hpp"

int main(int argc, char** argv) {
  tavrin::guardProcess();
  const char* const term = std::getenv("TERM");
  const tavrin::Inherited inherited{
      .input = STDIN_FILENO,
      .output = STDOUT_FILENO,
      .errorTerminal = isatty(STDERR_FILENO) == 1 ? STDERR_FILENO : tavrin::kNoFile,
      .terminalTakesEscapes = term != nullptr && std::string_view(term) != "dumb",
      .terminal = "/dev/tty",
      .descriptors = tavrin::openDescriptors(),
  };
  return tavrin::RunCli({argv + 1, argv + argc}, std::cout, std::cerr, inherited);
}
