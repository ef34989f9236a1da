#include "cli/cli.hpp"

#include <istream>
#include <optional>
#include <ostream>
#include <string_view>

#include "engine/conversion_run.hpp"
#include "engine/text.hpp"
#include "version.hpp"

namespace tavrin {

namespace {

constexpr std::string_view kProgram = "tavrin-cli";
constexpr std::size_t kProgressCharacters = 70;

constexpr std::string_view kHelp = R"(Usage: tavrin-cli [options] INPUT OUTPUT
Turns a delimited list of e-mail recipients (as copied from a mail's To line)
into an address file with one recipient per line, under the header "EMail1".

Options:
  -s, --separator TEXT  the text between recipients (default ","); it is
                        trimmed, and a blank one means ","
  -u, --unbuild         unpack "Name" <address> into a tidied display name and
                        an address, under the header "DisplayName,EMail1"
      --on-line-error ask|continue|stop
                        what to do after a line fails: ask (the default when
                        standard input is a terminal), continue with the next
                        line (the default otherwise), or stop
  -q, --quiet           show no progress line
  -h, --help            show this help and exit
  -V, --version         show the version and exit

INPUT may be a pipe such as /dev/stdin, OUTPUT a device such as /dev/stdout.
The output file is replaced; the input file is only read.

Exit status: 0 when the run went cleanly, 1 when it ended after a warning or
a line error, 2 for a usage error or a run that could not start.
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

std::optional<LineErrorPolicy> parsePolicy(std::string_view text) {
  if (text == "ask") return LineErrorPolicy::Ask;
  if (text == "continue") return LineErrorPolicy::Continue;
  if (text == "stop") return LineErrorPolicy::Stop;
  return std::nullopt;
}

Options parseOptions(const std::vector<std::string>& args) {
  Options options;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    auto valueOf = [&](std::string_view option) -> std::string {
      if (i + 1 >= args.size()) throw UsageError{"option '" + std::string(option) + "' needs a value"};
      return args[++i];
    };
    if (optionsEnded || arg == "-" || !arg.starts_with('-')) {
      options.files.emplace_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg.starts_with("--")) {
      const std::size_t equals = arg.find('=');
      const std::string_view name = arg.substr(0, equals);
      const std::optional<std::string> inlineValue = equals == std::string_view::npos
                                                         ? std::nullopt
                                                         : std::optional<std::string>(arg.substr(equals + 1));
      auto value = [&] { return inlineValue ? *inlineValue : valueOf(name); };
      auto noValue = [&] {
        if (inlineValue) throw UsageError{"option '" + std::string(name) + "' takes no value"};
      };
      if (name == "--separator") {
        options.separator = value();
      } else if (name == "--on-line-error") {
        const std::string policy = value();
        options.onLineError = parsePolicy(policy);
        if (!options.onLineError) {
          throw UsageError{"invalid value '" + policy + "' for '--on-line-error': use ask, continue or stop"};
        }
      } else if (name == "--unbuild") {
        noValue();
        options.unbuild = true;
      } else if (name == "--quiet") {
        noValue();
        options.quiet = true;
      } else if (name == "--help") {
        noValue();
        options.help = true;
      } else if (name == "--version") {
        noValue();
        options.version = true;
      } else {
        throw UsageError{"unknown option '" + std::string(name) + "'"};
      }
    } else {
      // Short options may be grouped (-uq); -s takes the rest or the next argument.
      for (std::size_t k = 1; k < arg.size(); ++k) {
        switch (arg[k]) {
          case 's':
            options.separator = k + 1 < arg.size() ? std::string(arg.substr(k + 1)) : valueOf("-s");
            k = arg.size();
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
          default:
            throw UsageError{"unknown option '-" + std::string(1, arg[k]) + "'"};
        }
      }
    }
  }
  return options;
}

// The terminal's side of a run: the options stand in for the window's fields,
// standard error for its message boxes and status bar.
class CliHost final : public RunHost {
 public:
  CliHost(const Options& options, LineErrorPolicy policy, std::istream& in, std::ostream& err,
          bool showProgress)
      : m_separator(options.separator),
        m_inputName(options.files[0]),
        m_outputName(options.files[1]),
        m_unbuild(options.unbuild),
        m_policy(policy),
        m_in(in),
        m_err(err),
        m_showProgress(showProgress) {}

  std::string GetSeparator() override { return m_separator; }
  void SetSeparator(std::string_view text) override { m_separator = text; }
  std::string GetInputFileName() override { return m_inputName; }
  std::string GetOutputFileName() override { return m_outputName; }
  bool IsUnbuildChecked() override { return m_unbuild; }

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
  void inputRead(std::uint64_t bytesRead, std::uint64_t bytesTotal) override {
    m_bytesRead = bytesRead;
    m_bytesTotal = bytesTotal;
  }

  void ShowMessage(std::string_view text) override {
    m_runReported = true;
    say(text);
  }
  bool AskYesNo(std::string_view text) override {
    m_troubleReported = true;
    say(text);
    switch (m_policy) {
      case LineErrorPolicy::Continue:
        return true;
      case LineErrorPolicy::Stop:
        return false;
      case LineErrorPolicy::Ask:
        break;
    }
    for (;;) {
      m_err << kProgram << ": go on with the next line? [Y/n] " << std::flush;
      std::string answer;
      if (!std::getline(m_in, answer)) return true;  // no one to ask: the default
      if (answer.empty() || answer == "y" || answer == "Y" || answer == "yes") return true;
      if (answer == "n" || answer == "N" || answer == "no") return false;
    }
  }
  void ShowWarning(std::string_view text, std::string_view title) override {
    m_troubleReported = true;
    clearProgress();
    m_err << kProgram << ": " << title << ": " << text << '\n' << std::flush;
  }

  void finish() { clearProgress(); }
  int exitStatus() const { return m_runReported ? 2 : m_troubleReported ? 1 : 0; }

 private:
  void say(std::string_view text) {
    clearProgress();
    m_err << kProgram << ": " << text << '\n' << std::flush;
  }

  void drawProgress() {
    // Only the start of a long token fits, and control characters in it must
    // not steer the terminal.
    std::string shown;
    std::size_t offset = 0;
    for (std::size_t count = 0; offset < m_status.size() && count < kProgressCharacters; ++count) {
      const Character c = characterAt(m_status, offset);
      if (static_cast<unsigned char>(m_status[offset]) < 0x20 || !c.wellFormed) {
        shown += '?';
      } else {
        shown.append(m_status, offset, c.size);
      }
      offset += c.size;
    }
    if (offset < m_status.size()) shown += "...";
    m_err << '\r' << shown;
    if (m_bytesTotal > 0) m_err << "  (" << m_bytesRead * 100 / m_bytesTotal << "%)";
    m_err << "\x1b[K" << std::flush;
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
  std::istream& m_in;
  std::ostream& m_err;
  bool m_showProgress;
  std::string m_status;
  std::uint64_t m_bytesRead = 0;
  std::uint64_t m_bytesTotal = 0;
  bool m_progressShown = false;
  bool m_runReported = false;
  bool m_troubleReported = false;
};

}  // namespace

int RunCli(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
           Terminals terminals) {
  Options options;
  try {
    options = parseOptions(args);
    if (!options.help && !options.version && options.files.size() != 2) {
      throw UsageError{options.files.size() < 2 ? "INPUT and OUTPUT files are needed"
                                                : "too many arguments: only INPUT and OUTPUT are taken"};
    }
  } catch (const UsageError& error) {
    err << kProgram << ": " << error.message << "\nTry 'tavrin-cli --help' for more information.\n";
    return 2;
  }
  if (options.help) {
    out << kHelp;
    return 0;
  }
  if (options.version) {
    out << kProgram << ' ' << kVersionText << '\n';
    return 0;
  }
  const LineErrorPolicy policy =
      options.onLineError.value_or(terminals.input ? LineErrorPolicy::Ask : LineErrorPolicy::Continue);
  CliHost host(options, policy, in, err, terminals.error && !options.quiet);
  ConversionRun(host);
  host.finish();
  return host.exitStatus();
}

}  // namespace tavrin
