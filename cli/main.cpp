#include <unistd.h>

#include <iostream>

#include "cli/cli.hpp"
#include "engine/process_guard.hpp"

int main(int argc, char** argv) {
  tavrin::guardProcess();
  return tavrin::RunCli(
      {argv + 1, argv + argc}, std::cout, std::cerr,
      {STDIN_FILENO, STDOUT_FILENO, isatty(STDERR_FILENO) == 1 ? STDERR_FILENO : -1, "/dev/tty"});
}
