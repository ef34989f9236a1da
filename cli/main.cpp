#include <unistd.h>

#include <iostream>

#include "cli/cli.hpp"

int main(int argc, char** argv) {
  return tavrin::RunCli({argv + 1, argv + argc}, std::cin, std::cout, std::cerr,
                        {isatty(STDIN_FILENO) == 1, isatty(STDERR_FILENO) == 1});
}
