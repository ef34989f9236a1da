#include <iostream>

#include "cli/cli.hpp"
#include "cli/terminal.hpp"

int main(int argc, char** argv) {
  using namespace tavrin;
  const ClosedAtStart closedAtStart = guardProcess();
  guardTerminal();
  const FileHandle error = standardHandle(2);
  const Inherited inherited{
      .input = standardHandle(0),
      .output = standardHandle(1),
      .errorTerminal = isTerminal(error) ? error : kNoFile,
      .terminalTakesEscapes = takesEscapes(error),
      .terminal = ownTerminalName(),
      .descriptors = openDescriptors(),
      .closedAtStart = closedAtStart,
  };
  return RunCli(programArguments(argc, argv), std::cout, std::cerr, inherited);
}
