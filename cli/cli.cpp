#include "cli/cli.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <new>
#include <optional>
#include <ostream>
#include <string_view>

#include "engine/conversion_run.hpp"
#include "engine/text.hpp"
#include "version.hpp"

namespace tavrin {

namespace {

constexpr std::string_view kProgram = "tavrin-cli";

constexpr std::string_view kHelp = R"(Usage: tavrin-cli [options] INPUT OUTPUT
Turns a delimited list of e-mail recipients (as copied from a mail's To line)
into an address file with one recipient per line, under the header "EMail1".

Options:
  -s, --separator=TEXT  the text between recipients (default ","); it is
                        trimmed, and a blank one means ","
  -u, --unbuild         unpack "Name" <address> into a tidied display name and
                        an address, under the header "DisplayName,EMail1"
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

enum class LineErrorPolicy { Ask, Continue, Stop };

struct Options {
  std::string separator = std::string(kDefaultSeparator);
  bool unbuild = false;
  std::optional<LineErrorPolicy> onLineError;
  bool quiet = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> files;
};

struct UsageError {
  std::string message;
  bool suggestsHelp = true;
};

// Texts from the input and file names may hold anything; a control character
// must not steer the terminal, so it is shown as \xNN. The reports' CR LF
// pairs become plain line ends.
std::string printable(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t offset = 0; offset < text.size();) {
    const Character c = characterAt(text, offset);
    if (text.substr(offset).starts_with("\r\n")) {
      shown += '\n';
      offset += 2;
      continue;
    }
    const bool control = c.code < 0x20 || (c.code >= 0x7F && c.code < 0xA0);
    if (control || !c.wellFormed) {
      constexpr char kDigits[] = "0123456789abcdef";
      for (std::size_t i = 0; i < c.size; ++i) {
        const auto b = static_cast<unsigned char>(text[offset + i]);
        shown += "\\x";
        shown += kDigits[b >> 4];
        shown += kDigits[b & 0xF];
      }
    } else {
      shown.append(text, offset, c.size);
    }
    offset += c.size;
  }
  return shown;
}

// The options, as GNU programs take them: short ones alone or together
// (-uq, -s';', -s ';'), long ones as --name=value or --name value, and any
// unambiguous start of a long name (--sep). Options and file names may come
// in any order; "--" ends the options, and "-" is a file name.
struct OptionSpec {
  std::string_view name;
  char letter;  // 0: a long option only
  bool takesValue;
};
constexpr OptionSpec kOptions[] = {
    {"separator", 's', true}, {"unbuild", 'u', false}, {"on-line-error", 0, true},
    {"quiet", 'q', false},    {"help", 'h', false},    {"version", 'V', false},
};

void apply(const OptionSpec& option, const std::string& value, Options& options) {
  switch (option.letter) {
    case 's':
      options.separator = value;
      return;
    case 'u':
      options.unbuild = true;
      return;
    case 'q':
      options.quiet = true;
      return;
    case 'h':
      options.help = true;
      return;
    case 'V':
      options.version = true;
      return;
    default:
      break;
  }
  if (value == "ask") {
    options.onLineError = LineErrorPolicy::Ask;
  } else if (value == "continue") {
    options.onLineError = LineErrorPolicy::Continue;
  } else if (value == "stop") {
    options.onLineError = LineErrorPolicy::Stop;
  } else {
    throw UsageError{"invalid argument '" + printable(value) +
                     "' for '--on-line-error'\nValid arguments are 'ask', 'continue' and 'stop'."};
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
  if (starts == 0) throw UsageError{"unrecognized option '" + printable(typed) + "'"};
  if (starts > 1)
    throw UsageError{"option '" + printable(typed) + "' is ambiguous; possibilities:" + possibilities};
  return *found;
}

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
          throw UsageError{"invalid option -- '" + printable(std::string_view(arg).substr(at, 1)) + "'"};
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

// The handle that a name leads to through the program's own: "-" (for
// `standard`) and, where the system has such names, /dev/stdin, /dev/stdout,
// /dev/stderr, /dev/fd/N and /proc/self/fd/N; kNoFile for any other name. A
// number that the program was not started with is a usage error: it could
// only be one of the program's own.
FileHandle handleNamed(const std::string& name, int standard, const Inherited& inherited) {
  if (name != "-" && !hasDescriptorNames()) return kNoFile;
  int fd = name == "-" ? standard : -1;
  if (name == "/dev/stdin") fd = 0;
  if (name == "/dev/stdout") fd = 1;
  if (name == "/dev/stderr") fd = 2;
  for (const std::string_view folder : {"/dev/fd/", "/proc/self/fd/"}) {
    if (!name.starts_with(folder)) continue;
    const std::string_view digits = std::string_view(name).substr(folder.size());
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), fd);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.starts_with('+'))
      return kNoFile;
  }
  if (fd >= 0 && fd <= 2 && inherited.closedAtStart[static_cast<std::size_t>(fd)]) {
    constexpr std::string_view kStandardNames[] = {"standard input", "standard output", "standard error"};
    throw UsageError{"'" + printable(name) + "' names " + std::string(kStandardNames[fd]) +
                         ", which was closed when tavrin-cli started",
                     false};
  }
  if (fd == 0) return inherited.input;
  if (fd == 1) return inherited.output;
  if (fd < 0) return kNoFile;
  const auto& open = inherited.descriptors;
  if (std::find(open.begin(), open.end(), fd) == open.end())
    throw UsageError{"'" + printable(name) + "' names no descriptor that tavrin-cli was started with"};
  return fd;
}

// The terminal that line errors are asked about on. Answers never come from
// standard input, which may be the very input of the run.
class AskingTerminal {
 public:
  explicit AskingTerminal(const std::string& name) : m_terminal(openTerminal(name)) {}
  ~AskingTerminal() { closeTerminal(m_terminal); }
  AskingTerminal(const AskingTerminal&) = delete;
  AskingTerminal& operator=(const AskingTerminal&) = delete;

  bool isThere() const { return m_terminal.output != kNoFile; }

  // False when the terminal did not take it all.
  bool write(std::string_view text) {
    while (!text.empty()) {
      const Moved moved = writeTo(m_terminal.output, text.data(), text.size());
      if (moved.error != 0) return false;
      text.remove_prefix(moved.count);
    }
    return true;
  }

  // The next line typed, without its end; nothing when the terminal is gone.
  std::optional<std::string> readLine() {
    std::string line;
    for (char c;;) {
      const Moved moved = readFrom(m_terminal.input, &c, 1);
      if (moved.count == 0) return line.empty() ? std::nullopt : std::optional(line);
      if (c == '\n') return line;
      if (c != '\r') line += c;
    }
  }

 private:
  Terminal m_terminal;
};

// The terminal's side of a run: the options stand in for the window's fields,
// standard error for its message boxes and status bar.
class CliHost final : public RunHost {
 public:
  CliHost(const Options& options, LineErrorPolicy policy, AskingTerminal& terminal, std::ostream& err,
          const Inherited& inherited, FileHandle input, FileHandle output)
      : m_separator(options.separator),
        m_inputName(options.files[0]),
        m_outputName(options.files[1]),
        m_unbuild(options.unbuild),
        m_policy(policy),
        m_terminal(terminal),
        m_err(err),
        m_inherited(inherited),
        m_input(input),
        m_output(output),
        m_showProgress(inherited.errorTerminal != kNoFile && !options.quiet && !isOutputOnErrorTerminal()) {}

  std::string GetSeparator() override { return m_separator; }
  void SetSeparator(std::string_view text) override { m_separator = text; }
  std::string GetInputFileName() override { return m_inputName; }
  std::string GetOutputFileName() override { return m_outputName; }
  bool IsUnbuildChecked() override { return m_unbuild; }
  FileHandle inheritedInput() override { return m_input; }
  FileHandle inheritedOutput() override { return m_output; }

  void SetStatusText(std::string_view text) override {
    if (m_showProgress) m_status = text;
  }
  // The run hands over a new text at this pace; without progress only the
  // texts before a message and at the end come.
  std::chrono::steady_clock::duration statusInterval() override {
    return m_showProgress ? std::chrono::milliseconds(100) : std::chrono::steady_clock::duration::max();
  }
  void RefreshStatus() override {
    if (m_showProgress) drawProgress();
  }
  void lineRead(std::uint64_t lineNumber, std::uint64_t bytesRead, std::uint64_t bytesTotal) override {
    m_lineNumber = lineNumber;
    m_bytesRead = bytesRead;
    m_bytesTotal = bytesTotal;
  }

  void ShowMessage(std::string_view text) override {
    m_runReported = true;
    say(text);
  }
  bool asksAPerson() override { return m_policy == LineErrorPolicy::Ask; }
  bool AskYesNo(std::string_view text) override {
    m_troubleReported = true;
    sayAboutLine(text);
    switch (m_policy) {
      case LineErrorPolicy::Continue:
        return true;
      case LineErrorPolicy::Stop:
        return false;
      case LineErrorPolicy::Ask:
        break;
    }
    // Someone reading only the terminal must see what the question is about.
    bool shown =
        m_inherited.errorTerminal != kNoFile || m_terminal.write(printable(shortenForDisplay(text)) + "\n");
    const std::string_view question =
        m_closing ? "write the rest of the output again?" : "go on with the next line?";
    for (;;) {
      shown = shown && m_terminal.write(std::string(kProgram) + ": " + std::string(question) + " [Y/n] ");
      const std::optional<std::string> answer = shown ? m_terminal.readLine() : std::nullopt;
      if (!answer) {
        // A question that cannot be shown or answered is none: from now on
        // nobody is asked, and what holds for nobody to ask holds.
        m_policy = LineErrorPolicy::Continue;
        return true;
      }
      if (answer->empty() || *answer == "y" || *answer == "Y" || *answer == "yes") return true;
      if (*answer == "n" || *answer == "N" || *answer == "no") return false;
    }
  }
  void ShowWarning(std::string_view text, std::string_view title) override {
    m_troubleReported = true;
    sayAboutLine(std::string(title) + ": " + std::string(text));
  }
  bool goOnAfterWarning() override { return m_policy != LineErrorPolicy::Stop; }
  void closingOutput() override { m_closing = true; }
  void outputIncomplete() override { m_outputIncomplete = true; }

  void finish() { clearProgress(); }
  int exitStatus() const { return m_runReported || m_outputIncomplete ? 2 : m_troubleReported ? 1 : 0; }

 private:
  // The progress line and the output would mix on one terminal.
  bool isOutputOnErrorTerminal() const {
    const std::optional<FileInfo> terminal = infoOf(m_inherited.errorTerminal);
    const std::optional<FileInfo> output = m_output != kNoFile ? infoOf(m_output) : infoOf(m_outputName);
    return terminal && output && terminal->id == output->id;
  }

  void say(std::string_view text) {
    clearProgress();
    m_err << kProgram << ": " << printable(shortenForDisplay(text)) << '\n' << std::flush;
  }

  // FILE:LINE: in front, as compilers and GNU tools write it.
  void sayAboutLine(std::string_view text) {
    say(m_inputName + ':' + std::to_string(m_lineNumber) + ": " + std::string(text));
  }

  int columns() const {
    const int columns = terminalColumns(m_inherited.errorTerminal);
    return columns > 0 ? columns : 80;
  }

  // One frame of the progress line, fitted to the terminal so that it is
  // rewritten in place: the token is cut, never the count.
  void drawProgress() {
    std::string share;
    if (m_bytesTotal > 0) share = "  (" + std::to_string(m_bytesRead * 100 / m_bytesTotal) + "%)";
    const std::size_t dash = m_status.find(" - ");
    const std::string_view count = std::string_view(m_status).substr(0, dash + 3);
    const std::string_view token = std::string_view(m_status).substr(dash + 3);
    // The last column stays free: writing into it wraps on some terminals.
    int room = columns() - 1 - static_cast<int>(count.size() + share.size());
    if (room < 4) {
      share.clear();
      room = columns() - 1 - static_cast<int>(count.size());
    }
    std::string shown;
    int used = 0;
    std::size_t offset = 0;
    std::size_t fitsWithMark = 0;  // how much of the token fits beside "..."
    int usedWithMark = 0;
    for (; offset < token.size();) {
      const Character c = characterAt(token, offset);
      // Control characters in a token must not steer the terminal.
      const bool plain = c.wellFormed && c.code >= 0x20 && !(c.code >= 0x7F && c.code < 0xA0);
      const int width = plain ? columnsOf(c.code) : 1;
      if (used + width > room) break;
      if (used + width <= room - 3) {
        fitsWithMark = shown.size() + (plain ? c.size : 1);
        usedWithMark = used + width;
      }
      plain ? shown.append(token, offset, c.size) : shown.append("?");
      used += width;
      offset += c.size;
    }
    if (offset < token.size()) {
      shown.resize(fitsWithMark);
      shown += "...";
      used = usedWithMark + 3;
    }
    const int width = static_cast<int>(count.size() + share.size()) + used;
    m_err << '\r' << count << shown << share;
    if (m_inherited.terminalTakesEscapes) {
      m_err << "\x1b[K";
    } else if (width < m_progressWidth) {
      m_err << std::string(static_cast<std::size_t>(m_progressWidth - width), ' ');
    }
    m_err << std::flush;
    m_progressWidth = std::max(width, m_inherited.terminalTakesEscapes ? 0 : m_progressWidth);
    markProgressLine(m_inherited.errorTerminal);
  }

  void clearProgress() {
    if (m_progressWidth < 0) return;
    markProgressLine(kNoFile);
    if (m_inherited.terminalTakesEscapes) {
      m_err << "\r\x1b[K";
    } else {
      m_err << '\r' << std::string(static_cast<std::size_t>(m_progressWidth), ' ') << '\r';
    }
    m_err << std::flush;
    m_progressWidth = -1;
  }

  std::string m_separator;
  std::string m_inputName;
  std::string m_outputName;
  bool m_unbuild;
  LineErrorPolicy m_policy;
  AskingTerminal& m_terminal;
  std::ostream& m_err;
  const Inherited& m_inherited;
  FileHandle m_input;
  FileHandle m_output;
  bool m_showProgress;
  std::string m_status;
  std::uint64_t m_lineNumber = 0;
  std::uint64_t m_bytesRead = 0;
  std::uint64_t m_bytesTotal = 0;
  int m_progressWidth = -1;  // the columns that the progress line covers; -1 when none is shown
  bool m_closing = false;
  bool m_runReported = false;
  bool m_troubleReported = false;
  bool m_outputIncomplete = false;
};

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
