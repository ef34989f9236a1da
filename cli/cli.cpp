#include "cli/cli.hpp"

#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <ostream>
#include <string_view>

#include "cli/asking_terminal.hpp"
#include "cli/cli_host.hpp"
#include "cli/descriptor_names.hpp"
#include "cli/options.hpp"
#include "engine/conversion_run.hpp"
#include "version.hpp"

namespace tavrin {

namespace {

// Help and version: a failed write must not pass for success.
int writeOut(std::ostream& out, std::ostream& err, std::string_view text) {
  errno = 0;
  out << text << std::flush;
  if (out) return 0;
  const int number = errno != 0 ? errno : EIO;
  err << kProgram << ": cannot write to standard output: " << std::strerror(number) << '\n';
  return 2;
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const Inherited& inherited) {
  Options options;
  std::optional<AskingTerminal> terminal;
  FileHandle input = kNoFile;
  FileHandle output = kNoFile;
  try {
    options = parseOptions(args);
    if (options.help) return writeOut(out, err, kHelp);
    if (options.version)
      return writeOut(out, err, std::string(kProgram) + ' ' + std::string(kVersionText) + '\n');
    if (options.files.size() != 2) {
      throw UsageError{options.files.size() < 2 ? "INPUT and OUTPUT files are needed"
                                                : "too many arguments: only INPUT and OUTPUT are taken"};
    }
    input = handleNamed(options.files[0], 0, inherited);
    output = handleNamed(options.files[1], 1, inherited);
    if (options.onLineError.value_or(LineErrorPolicy::Ask) == LineErrorPolicy::Ask) {
      terminal.emplace(inherited.terminal);
      if (!terminal->isThere() && options.onLineError) {
        throw UsageError{"'--on-line-error=ask' needs a terminal to ask on, and there is none"};
      }
    }
  } catch (const UsageError& error) {
    err << kProgram << ": " << error.message << '\n';
    if (error.suggestsHelp) err << "Try 'tavrin-cli --help' for more information.\n";
    return 2;
  }
  if (!terminal) terminal.emplace(std::string());
  const LineErrorPolicy policy =
      options.onLineError.value_or(terminal->isThere() ? LineErrorPolicy::Ask : LineErrorPolicy::Continue);
  CliHost host(options, policy, *terminal, err, inherited, input, output);
  ConversionRun(host);
  host.finish();
  return host.exitStatus();
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const Inherited& inherited) {
  try {
    return run(args, out, err, inherited);
  } catch (const std::bad_alloc&) {
    err << kProgram << ": " << std::strerror(ENOMEM) << '\n';
    return 2;
  }
}

}  // namespace tavrin
