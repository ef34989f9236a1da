#include "cli/cli.hpp"

#include <fcntl.h>
#include <getopt.h>
#include <locale.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
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

INPUT "-" is standard input, OUTPUT "-" standard output; so are /dev/stdin,
/dev/stdout and /dev/fd/N, which are written as they stand, never emptied.
The output file is replaced; the input file is only read. An output file that
a run created is removed again when the run is interrupted (Ctrl-C).

Exit status: 0 when the run went cleanly, 1 when it ended after a warning or
a line error, 2 for a usage error or a run that could not start or had to end
early (a missing input, an output that refuses all data).
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
};

constexpr int kOnLineError = 256;  // a long option without a short one
constexpr char kShortOptions[] = "s:uqhV";
const option kLongOptions[] = {
    {"separator", required_argument, nullptr, 's'},
    {"unbuild", no_argument, nullptr, 'u'},
    {"on-line-error", required_argument, nullptr, kOnLineError},
    {"quiet", no_argument, nullptr, 'q'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
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

// getopt_long writes its messages, the ones people know from every GNU
// program, to stderr. While options are parsed they are caught instead, so
// that they go where the caller wants them, with control characters shown.
class CaughtMessages {
 public:
  CaughtMessages() : m_stream(open_memstream(&m_text, &m_size)), m_standardError(stderr) {
    opterr = m_stream != nullptr;
    if (m_stream != nullptr) stderr = m_stream;
  }
  ~CaughtMessages() {
    if (m_stream == nullptr) return;
    stderr = m_standardError;
    std::fclose(m_stream);
    std::free(m_text);
  }
  CaughtMessages(const CaughtMessages&) = delete;
  CaughtMessages& operator=(const CaughtMessages&) = delete;

  // The message of the latest error, without the program's name and the line end.
  std::string latest() {
    if (m_stream == nullptr || std::fflush(m_stream) != 0 || m_size == 0) return "invalid command line";
    std::string_view text(m_text, m_size);
    if (text.ends_with('\n')) text.remove_suffix(1);
    text = text.substr(text.rfind('\n') + 1);
    if (text.starts_with(kProgram) && text.substr(kProgram.size()).starts_with(": ")) {
      text.remove_prefix(kProgram.size() + 2);
    }
    return printable(text);
  }

 private:
  char* m_text = nullptr;
  std::size_t m_size = 0;
  FILE* m_stream;
  FILE* m_standardError;
};

Options parseOptions(const std::vector<std::string>& args) {
  std::vector<std::string> argvStrings = {std::string(kProgram)};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvStrings) argv.push_back(arg.data());
  argv.push_back(nullptr);

  Options options;
  CaughtMessages messages;
  optind = 0;  // starts getopt afresh, also for a second call in one process
  for (;;) {
    const int result =
        getopt_long(static_cast<int>(argvStrings.size()), argv.data(), kShortOptions, kLongOptions, nullptr);
    if (result == -1) break;
    switch (result) {
      case 's':
        options.separator = optarg;
        break;
      case 'u':
        options.unbuild = true;
        break;
      case 'q':
        options.quiet = true;
        break;
      case 'h':
        options.help = true;
        break;
      case 'V':
        options.version = true;
        break;
      case kOnLineError: {
        const std::string_view value = optarg;
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
        break;
      }
      default:
        throw UsageError{messages.latest()};
    }
  }
  options.files.assign(argvStrings.begin() + optind, argvStrings.end());
  return options;
}

// The descriptor that a name leads to through the program's own: "-" (for
// `standard`), /dev/stdin, /dev/stdout, /dev/stderr, /dev/fd/N and
// /proc/self/fd/N. -1 for any other name, and for a number not open.
int descriptorNamed(std::string_view name, int standard, const Inherited& inherited) {
  int fd = -1;
  if (name == "-") return standard;
  if (name == "/dev/stdin") fd = STDIN_FILENO;
  if (name == "/dev/stdout") fd = STDOUT_FILENO;
  if (name == "/dev/stderr") fd = STDERR_FILENO;
  for (const std::string_view folder : {"/dev/fd/", "/proc/self/fd/"}) {
    if (!name.starts_with(folder)) continue;
    const std::string_view digits = name.substr(folder.size());
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), fd);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.starts_with('+')) fd = -1;
  }
  if (fd == STDIN_FILENO) fd = inherited.input;
  if (fd == STDOUT_FILENO) fd = inherited.output;
  return fd >= 0 && ::fcntl(fd, F_GETFD) != -1 ? fd : -1;
}

// Columns a character takes on a terminal, whatever the user's locale says.
int columnsOf(char32_t code) {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (utf8 == static_cast<locale_t>(nullptr)) return 1;
  const locale_t previous = uselocale(utf8);
  const int columns = wcwidth(static_cast<wchar_t>(code));
  uselocale(previous);
  return columns < 0 ? 1 : columns;
}

// The terminal that line errors are asked about on. Answers never come from
// standard input, which may be the very input of the run.
class Terminal {
 public:
  explicit Terminal(const std::string& path)
      : m_fd(path.empty() ? -1 : ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~Terminal() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  bool isThere() const { return m_fd >= 0; }

  void write(std::string_view text) {
    while (!text.empty()) {
      const ssize_t count = ::write(m_fd, text.data(), text.size());
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) return;
      text.remove_prefix(static_cast<std::size_t>(count));
    }
  }

  // The next line typed, without its end; nothing when the terminal is gone.
  std::optional<std::string> readLine() {
    std::string line;
    for (char c;;) {
      const ssize_t count = ::read(m_fd, &c, 1);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) return line.empty() ? std::nullopt : std::optional(line);
      if (c == '\n') return line;
      line += c;
    }
  }

 private:
  int m_fd;
};

// The terminal's side of a run: the options stand in for the window's fields,
// standard error for its message boxes and status bar.
class CliHost final : public RunHost {
 public:
  CliHost(const Options& options, LineErrorPolicy policy, Terminal& terminal, std::ostream& err,
          const Inherited& inherited)
      : m_separator(options.separator),
        m_inputName(options.files[0]),
        m_outputName(options.files[1]),
        m_unbuild(options.unbuild),
        m_policy(policy),
        m_terminal(terminal),
        m_err(err),
        m_inherited(inherited),
        m_showProgress(inherited.errorTerminal >= 0 && !options.quiet) {}

  std::string GetSeparator() override { return m_separator; }
  void SetSeparator(std::string_view text) override { m_separator = text; }
  std::string GetInputFileName() override { return m_inputName; }
  std::string GetOutputFileName() override { return m_outputName; }
  bool IsUnbuildChecked() override { return m_unbuild; }
  int inheritedInput() override { return descriptorNamed(m_inputName, m_inherited.input, m_inherited); }
  int inheritedOutput() override { return descriptorNamed(m_outputName, m_inherited.output, m_inherited); }

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
    if (m_inherited.errorTerminal < 0) m_terminal.write(printable(shortenForDisplay(text)) + "\n");
    for (;;) {
      m_terminal.write(std::string(kProgram) + ": go on with the next line? [Y/n] ");
      const std::optional<std::string> answer = m_terminal.readLine();
      if (!answer) return true;  // no one to ask: the default
      if (answer->empty() || *answer == "y" || *answer == "Y" || *answer == "yes") return true;
      if (*answer == "n" || *answer == "N" || *answer == "no") return false;
    }
  }
  void ShowWarning(std::string_view text, std::string_view title) override {
    m_troubleReported = true;
    sayAboutLine(std::string(title) + ": " + std::string(text));
  }

  void finish() { clearProgress(); }
  int exitStatus() const { return m_runReported ? 2 : m_troubleReported ? 1 : 0; }

 private:
  void say(std::string_view text) {
    clearProgress();
    m_err << kProgram << ": " << printable(shortenForDisplay(text)) << '\n' << std::flush;
  }

  // FILE:LINE: in front, as compilers and GNU tools write it.
  void sayAboutLine(std::string_view text) {
    say(m_inputName + ':' + std::to_string(m_lineNumber) + ": " + std::string(text));
  }

  int terminalColumns() const {
    winsize size{};
    if (::ioctl(m_inherited.errorTerminal, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
    return size.ws_col;
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
    int room = terminalColumns() - 1 - static_cast<int>(count.size() + share.size());
    if (room < 4) {
      share.clear();
      room = terminalColumns() - 1 - static_cast<int>(count.size());
    }
    std::string shown;
    int used = 0;
    std::size_t offset = 0;
    std::size_t fitsWithMark = 0;  // how much of the token fits beside "..."
    for (; offset < token.size();) {
      const Character c = characterAt(token, offset);
      // Control characters in a token must not steer the terminal.
      const bool plain = c.wellFormed && c.code >= 0x20 && !(c.code >= 0x7F && c.code < 0xA0);
      const int columns = plain ? columnsOf(c.code) : 1;
      if (used + columns > room) break;
      if (used + columns <= room - 3) fitsWithMark = shown.size() + (plain ? c.size : 1);
      plain ? shown.append(token, offset, c.size) : shown.append("?");
      used += columns;
      offset += c.size;
    }
    if (offset < token.size()) {
      shown.resize(fitsWithMark);
      shown += "...";
    }
    m_err << '\r' << count << shown << share << "\x1b[K" << std::flush;
    m_progressShown = true;
  }

  void clearProgress() {
    if (m_progressShown) m_err << "\r\x1b[K" << std::flush;
    m_progressShown = false;
  }

  std::string m_separator;
  std::string m_inputName;
  std::string m_outputName;
  bool m_unbuild;
  LineErrorPolicy m_policy;
  Terminal& m_terminal;
  std::ostream& m_err;
  const Inherited& m_inherited;
  bool m_showProgress;
  std::string m_status;
  std::uint64_t m_lineNumber = 0;
  std::uint64_t m_bytesRead = 0;
  std::uint64_t m_bytesTotal = 0;
  bool m_progressShown = false;
  bool m_runReported = false;
  bool m_troubleReported = false;
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
  std::optional<Terminal> terminal;
  try {
    options = parseOptions(args);
    if (options.help) return writeOut(out, err, kHelp);
    if (options.version)
      return writeOut(out, err, std::string(kProgram) + ' ' + std::string(kVersionText) + '\n');
    if (options.files.size() != 2) {
      throw UsageError{options.files.size() < 2 ? "INPUT and OUTPUT files are needed"
                                                : "too many arguments: only INPUT and OUTPUT are taken"};
    }
    if (options.onLineError.value_or(LineErrorPolicy::Ask) == LineErrorPolicy::Ask) {
      terminal.emplace(inherited.terminal);
      if (!terminal->isThere() && options.onLineError) {
        throw UsageError{"'--on-line-error=ask' needs a terminal to ask on, and there is none"};
      }
    }
  } catch (const UsageError& error) {
    err << kProgram << ": " << error.message << "\nTry 'tavrin-cli --help' for more information.\n";
    return 2;
  }
  if (!terminal) terminal.emplace(std::string());
  const LineErrorPolicy policy =
      options.onLineError.value_or(terminal->isThere() ? LineErrorPolicy::Ask : LineErrorPolicy::Continue);
  CliHost host(options, policy, *terminal, err, inherited);
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
