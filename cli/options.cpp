#include "cli/options.hpp"

#include <algorithm>
#include <iterator>

#include "engine/shown_text.hpp"

namespace tavrin {

const std::string_view kHelp = R"(Usage: tavrin-cli [options] INPUT OUTPUT
Turns a delimited list of e-mail recipients (as copied from a mail's To line)
into an address file with one recipient per line, under the header "EMail1".

Options:
  -s, --separator=TEXT  the text between recipients (default ","); it is
                        trimmed, and a blank one means ","; "auto" is ";"
                        when the first line that is not blank has a ";"
                        outside double quotes (as Outlook writes), else ","
                        (auto is always this choice, never the text "auto")
  -u, --unbuild         unpack "Name" <address> into a tidied display name and
                        an address, under the header "DisplayName,EMail1"
      --csv             write every field as CSV takes it: in double quotes
                        when it holds a comma, a quote or a line end, and
                        after a ' when it begins with =, +, -, @, a tab or a CR,
                        so that no spreadsheet takes it for a formula
      --unique          leave out a record whose address (plain: the whole
                        recipient) came before, in any letter case
      --bom             start a UTF-8 output with a byte order mark, as Excel
                        wants (a UTF-16 output always has one)
      --summary         say at the end how many records were written, and how
                        many duplicates, reported lines and recipients without
                        an address there were (always on a terminal, not -q)
      --on-line-error=ask|continue|stop
                        what to do after a line fails: ask on the terminal
                        (the default when there is one), continue with the
                        next line (the default otherwise), or stop
  -q, --quiet           show no progress line
  -h, --help            show this help and exit
  -V, --version         show the version and exit

Options may come before, between or after the file names; "--" ends them.
INPUT "-" is standard input, OUTPUT "-" standard output, written as it stands,
never emptied. On Linux so are /dev/stdin, /dev/stdout and /dev/fd/N; Windows
takes them for paths like any other.
The output file is replaced; the input file is only read. An output file that
a run created is removed again when the run is interrupted (Ctrl-C).

Exit status: 0 when the run went cleanly, 1 when it ended after a warning or
a line error, 2 for a usage error or a run that could not start or had to end
early (a missing input, an output that refuses data).
)";

namespace {

enum class OptionId { Separator, Unbuild, Csv, Unique, Bom, Summary, OnLineError, Quiet, Help, Version };

struct OptionSpec {
  OptionId id;
  std::string_view name;
  char letter;  // 0: a long option only
  bool takesValue;
};
constexpr OptionSpec kOptions[] = {
    {OptionId::Separator, "separator", 's', true},
    {OptionId::Unbuild, "unbuild", 'u', false},
    {OptionId::Csv, "csv", 0, false},
    {OptionId::Unique, "unique", 0, false},
    {OptionId::Bom, "bom", 0, false},
    {OptionId::Summary, "summary", 0, false},
    {OptionId::OnLineError, "on-line-error", 0, true},
    {OptionId::Quiet, "quiet", 'q', false},
    {OptionId::Help, "help", 'h', false},
    {OptionId::Version, "version", 'V', false},
};

LineErrorPolicy lineErrorPolicyNamed(const std::string& value) {
  if (value == "ask") return LineErrorPolicy::Ask;
  if (value == "continue") return LineErrorPolicy::Continue;
  if (value == "stop") return LineErrorPolicy::Stop;
  throw UsageError{"invalid argument '" + escapedText(value) +
                   "' for '--on-line-error'\nValid arguments are 'ask', 'continue' and 'stop'."};
}

void apply(const OptionSpec& option, const std::string& value, Options& options) {
  switch (option.id) {
    case OptionId::Separator:
      options.separator = value;
      return;
    case OptionId::Unbuild:
      options.unbuild = true;
      return;
    case OptionId::Csv:
      options.csv = true;
      return;
    case OptionId::Unique:
      options.unique = true;
      return;
    case OptionId::Bom:
      options.byteOrderMark = true;
      return;
    case OptionId::Summary:
      options.summary = true;
      return;
    case OptionId::OnLineError:
      options.onLineError = lineErrorPolicyNamed(value);
      return;
    case OptionId::Quiet:
      options.quiet = true;
      return;
    case OptionId::Help:
      options.help = true;
      return;
    case OptionId::Version:
      options.version = true;
      return;
  }
}

// The long option that `name` names, whole or by an unambiguous start.
const OptionSpec& longOption(std::string_view name, std::string_view typed) {
  const OptionSpec* found = nullptr;
  int starts = 0;
  std::string possibilities;
  for (const OptionSpec& option : kOptions) {
    if (option.name == name) return option;
    if (!option.name.starts_with(name)) continue;
    found = &option;
    ++starts;
    possibilities += " '--" + std::string(option.name) + "'";
  }
  if (starts == 0) throw UsageError{"unrecognized option '" + escapedText(typed) + "'"};
  if (starts > 1)
    throw UsageError{"option '" + escapedText(typed) + "' is ambiguous; possibilities:" + possibilities};
  return *found;
}

}  // namespace

Options parseOptions(const std::vector<std::string>& args) {
  Options options;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg == "-" || !arg.starts_with('-')) {
      options.files.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg.starts_with("--")) {
      const std::size_t equals = arg.find('=');
      const OptionSpec& option =
          longOption(std::string_view(arg).substr(2, equals - 2), arg.substr(0, equals));
      const std::string full = "--" + std::string(option.name);
      if (!option.takesValue && equals != std::string::npos)
        throw UsageError{"option '" + full + "' doesn't allow an argument"};
      std::string value;
      if (equals != std::string::npos) {
        value = arg.substr(equals + 1);
      } else if (option.takesValue) {
        if (++i == args.size()) throw UsageError{"option '" + full + "' requires an argument"};
        value = args[i];
      }
      apply(option, value, options);
    } else {
      for (std::size_t at = 1; at < arg.size(); ++at) {
        const auto option = std::find_if(std::begin(kOptions), std::end(kOptions), [&](const OptionSpec& o) {
          return o.letter != 0 && o.letter == arg[at];
        });
        if (option == std::end(kOptions))
          throw UsageError{"invalid option -- '" + escapedText(std::string_view(arg).substr(at, 1)) + "'"};
        if (!option->takesValue) {
          apply(*option, {}, options);
          continue;
        }
        if (at + 1 < arg.size()) {
          apply(*option, arg.substr(at + 1), options);
        } else if (++i < args.size()) {
          apply(*option, args[i], options);
        } else {
          throw UsageError{"option requires an argument -- '" + std::string(1, option->letter) + "'"};
        }
        break;
      }
    }
  }
  return options;
}

}  // namespace tavrin
