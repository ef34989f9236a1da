#include "cli/cli.hpp"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/columns.hpp"
#include "shown.hpp"
#include "temp_dir.hpp"

namespace tavrin {
namespace {

struct CliResult {
  int status;
  std::string out;
  std::string err;
};

CliResult runTool(const std::vector<std::string>& args, const Inherited& inherited = {}) {
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunCli(args, out, err, inherited);
  return {status, out.str(), err.str()};
}

// A pseudo-terminal of the given width: the program sees its other side.
#ifndef _WIN32  // a pseudo-terminal
class PseudoTerminal {
 public:
  explicit PseudoTerminal(unsigned short columns) : m_main(posix_openpt(O_RDWR | O_NOCTTY)) {
    grantpt(m_main);
    unlockpt(m_main);
    m_path = ptsname(m_main);
    m_side = ::open(m_path.c_str(), O_RDWR | O_NOCTTY);
    winsize size{};
    size.ws_col = columns;
    size.ws_row = 24;
    ::ioctl(m_main, TIOCSWINSZ, &size);
    termios modes{};
    tcgetattr(m_side, &modes);
    modes.c_lflag &= ~static_cast<tcflag_t>(ECHO);  // what is typed is not shown back
    modes.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tcsetattr(m_side, TCSANOW, &modes);
  }
  ~PseudoTerminal() {
    ::close(m_side);
    ::close(m_main);
  }
  const std::string& path() const { return m_path; }
  int side() const { return m_side; }
  void type(std::string_view text) {
    EXPECT_EQ(::write(m_main, text.data(), text.size()), ssize_t(text.size()));
  }
  // What the program wrote on the terminal.
  std::string shown() {
    std::string text;
    pollfd ready{m_main, POLLIN, 0};
    char buffer[4096];
    while (::poll(&ready, 1, 0) == 1 && (ready.revents & POLLIN)) {
      const ssize_t count = ::read(m_main, buffer, sizeof buffer);
      if (count <= 0) break;
      text.append(buffer, static_cast<std::size_t>(count));
    }
    return text;
  }

 private:
  int m_main;
  int m_side = -1;
  std::string m_path;
};
#endif

TEST(Cli, HelpAndVersionGoToStandardOutput) {
  for (const std::string option : {"-h", "--help"}) {
    const CliResult r = runTool({option});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.starts_with("Usage: tavrin-cli [options] INPUT OUTPUT\n")) << r.out;
    EXPECT_NE(r.out.find("--on-line-error"), std::string::npos);
    EXPECT_EQ(r.err, "");
  }
  for (const std::string option : {"-V", "--version"}) {
    EXPECT_EQ(runTool({option}).out, "tavrin-cli 1.00.0001\n");
    EXPECT_EQ(runTool({option}).status, 0);
  }
}

TEST(Cli, UsageErrorsExitWithTwoAndSayWhatIsWrong) {
  struct Case {
    std::vector<std::string> args;  // "a" is an input file, "b" an old output
    std::string message;
  };
  const std::vector<Case> cases = {
      {{}, "INPUT and OUTPUT files are needed"},
      {{"a"}, "INPUT and OUTPUT files are needed"},
      {{"a", "b", "c"}, "too many arguments: only INPUT and OUTPUT are taken"},
      {{"-x", "a", "b"}, "invalid option -- 'x'"},
      {{"a", "b", "-x"}, "invalid option -- 'x'"},
      {{"--frobnicate", "a", "b"}, "unrecognized option '--frobnicate'"},
      {{"--\x1b[2J", "a", "b"}, "unrecognized option '--\\x1b[2J'"},
      {{"a", "b", "-s"}, "option requires an argument -- 's'"},
      {{"a", "b", "--separator"}, "option '--separator' requires an argument"},
      {{"--on-line-error", "maybe", "a", "b"},
       "invalid argument 'maybe' for '--on-line-error'\nValid arguments are 'ask', 'continue' and 'stop'."},
      {{"--unbuild=yes", "a", "b"}, "option '--unbuild' doesn't allow an argument"},
      {{"--on-line-error=ask", "a", "b"},
       "'--on-line-error=ask' needs a terminal to ask on, and there is none"},
#ifndef _WIN32  // where names stand for descriptors
      // Not one of the descriptors that the program was started with.
      {{"a", "/dev/fd/3"},
       "'" + isolated("/dev/fd/3") + "' names no descriptor that tavrin-cli was started with"},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TempDir dir;
    const std::string a = dir.write("a", "x@y");
    const std::string b = dir.write("b", "old");
    std::vector<std::string> args = c.args;
    std::replace(args.begin(), args.end(), std::string("a"), a);
    std::replace(args.begin(), args.end(), std::string("b"), b);
    const CliResult r = runTool(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tavrin-cli: " + c.message + "\nTry 'tavrin-cli --help' for more information.\n");
    EXPECT_EQ(readFile(b), "old") << "a usage error touches no file";
  }
}

TEST(Cli, OptionsReachTheRun) {
  struct Case {
    std::vector<std::string> options;  // the file names come last unless IN and OUT stand for them
    std::string input;
    std::string output;
  };
  const std::vector<Case> cases = {
      {{}, "a,b;c", "EMail1\r\na\r\nb;c\r\n"},
      {{"IN", "-u", "OUT"}, "x@y", "DisplayName,EMail1\r\nPartner,x@y\r\n"},
      {{"-q", "IN", "OUT", "-s", ";"}, "a,b;c", "EMail1\r\na,b\r\nc\r\n"},
      {{"-s", ";"}, "a,b;c", "EMail1\r\na,b\r\nc\r\n"},
      {{"-s;"}, "a,b;c", "EMail1\r\na,b\r\nc\r\n"},
      {{"--separator= ; "}, "a,b;c", "EMail1\r\na,b\r\nc\r\n"},
      {{"--sep=;"}, "a,b;c", "EMail1\r\na,b\r\nc\r\n"},
      {{"--separator", ""}, "a,b;c", "EMail1\r\na\r\nb;c\r\n"},
      {{"-s", "::"}, "a::b", "EMail1\r\na\r\nb\r\n"},
      {{"-u"}, "\"Doe, Jane\" <j@d.org>", "DisplayName,EMail1\r\nJane Doe,j@d.org\r\n"},
      {{"--unbuild", "-q"}, "x@y", "DisplayName,EMail1\r\nPartner,x@y\r\n"},
      {{"-uq"}, "x@y", "DisplayName,EMail1\r\nPartner,x@y\r\n"},
      {{"-us", ";"}, "x@y;z@w", "DisplayName,EMail1\r\nPartner,x@y\r\nPartner,z@w\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.options));
    TempDir dir;
    std::vector<std::string> args = c.options;
    const auto in = std::find(args.begin(), args.end(), "IN");
    if (in == args.end()) args.insert(args.end(), {"IN", "OUT"});
    std::replace(args.begin(), args.end(), std::string("IN"), dir.write("in.txt", c.input));
    std::replace(args.begin(), args.end(), std::string("OUT"), dir.file("out.csv"));
    const CliResult r = runTool(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile(dir.file("out.csv")), c.output);
  }
}

TEST(Cli, DoubleDashEndsTheOptions) {
  TempDir dir;
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.file(""));
  dir.write("-u", "x@y");
  const CliResult r = runTool({"--", "-u", "-s"});
  std::filesystem::current_path(before);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(readFile(dir.file("-s")), "EMail1\r\nx@y\r\n");
}

#ifndef _WIN32  // a pseudo-terminal
TEST(Cli, LineErrorsFollowThePolicyOrTheTerminalsAnswers) {
  const std::string input = "a@b\r\n\"X\",c@d\r\ne@f";
  const std::string report =
      "Error processing line: " + isolated("\"X\",c@d") + "\nDescription: Invalid argument\nNumber: 22\n";
  const std::string prompt = "tavrin-cli: go on with the next line? [Y/n] ";
  const std::string all = "DisplayName,EMail1\r\nPartner,a@b\r\nPartner,e@f\r\n";
  const std::string stopped = "DisplayName,EMail1\r\nPartner,a@b\r\n";
  struct Case {
    std::string name;
    std::vector<std::string> options;
    bool terminal;
    std::string typed;
    std::string asked;  // what the terminal shows
    std::string output;
  };
  const std::vector<Case> cases = {
      {"continue", {"--on-line-error", "continue"}, true, "", "", all},
      {"stop", {"--on-line-error=stop"}, false, "", "", stopped},
      {"ask, yes", {"--on-line-error", "ask"}, true, "y\n", report + prompt, all},
      {"ask, no", {"--on-line-error", "ask"}, true, "no\n", report + prompt, stopped},
      {"ask, Enter takes Yes", {}, true, "\n", report + prompt, all},
      {"ask, asked again", {}, true, "perhaps\nN\n", report + prompt + prompt, stopped},
      {"no terminal: go on", {}, false, "", "", all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    PseudoTerminal terminal(80);
    terminal.type(c.typed);
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"-u", dir.write("in.txt", input), dir.file("out.csv")});
    const CliResult r = runTool(args, {.terminal = c.terminal ? terminal.path() : ""});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tavrin-cli: " + isolated(dir.file("in.txt")) + ":2: " + report);
    EXPECT_EQ(terminal.shown(), c.asked);
    EXPECT_EQ(readFile(dir.file("out.csv")), c.output);
    EXPECT_EQ(readFile(dir.file("in.txt")), input);
  }
}
#endif

TEST(Cli, WarningsAndRunReportsSetTheExitStatus) {
  TempDir dir;
  const std::string input = dir.write("in.txt", "x\r\na,\"b\r\nc");
  CliResult r = runTool({input, dir.file("out.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      r.err,
      "tavrin-cli: " + isolated(input) +
          ":2: Tavrin: Error: Invalid argument: a quote stays open to the end of line 2, which begins " +
          isolated("a,\"b") + "\n");
  EXPECT_EQ(readFile(dir.file("out.txt")), "EMail1\r\nx\r\nc\r\n");

  r = runTool({dir.file("missing.txt"), dir.file("out.txt")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tavrin-cli: Cannot open the input file \"" + isolated(dir.file("missing.txt")) +
                       "\": No such file or directory(2)\n");
}

// The progress line measures by the Unicode data on every system.
TEST(Cli, ColumnsOfACharacterComeFromTheUnicodeData) {
  const std::vector<std::pair<char32_t, int>> cases = {
      {U'a', 1},      {U'\u00E9', 1},     {U'\u0301', 0},     {U'\u20DD', 0},     {U'\u200B', 0},
      {U'\u4E00', 2}, {U'\uFF21', 2},     {U'\uAC00', 2},     {U'\U0001F680', 2}, {U'\U00020000', 2},
      {U'\uFFFD', 1}, {U'\U0003FFFD', 2}, {U'\U000E0001', 0}, {U'\U0010FFFF', 1},
  };
  for (const auto& [code, columns] : cases)
    EXPECT_EQ(columnsOf(code), columns) << std::hex << static_cast<std::uint32_t>(code);
}

#ifndef _WIN32  // a pseudo-terminal
TEST(Cli, ProgressLineFitsTheTerminalAndIsClearedAtTheEnd) {
  struct Case {
    std::string input;
    std::string frame;  // the frame drawn, between "\r" and "\x1b[K"
    std::size_t columns;
  };
  const std::vector<Case> cases = {
      {"first\x1b[2J", "1 - " + isolated("first\\x1b[2J") + "  (100%)", 24},
      // 39 columns: the count and the share stay, the token is cut.
      {std::string(60, 'x'), "1 - " + isolated(std::string(24, 'x') + "...") + "  (100%)", 39},
      {"\xE7\xA4\xBE" + std::string(60, 'y'),
       "1 - " + isolated("\xE7\xA4\xBE" + std::string(22, 'y') + "...") + "  (100%)", 39},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frame);
    TempDir dir;
    PseudoTerminal terminal(40);
    const std::string input = dir.write("in.txt", c.input);
    CliResult r = runTool({input, dir.file("out.txt")}, {.errorTerminal = terminal.side(), .terminal = ""});
    EXPECT_EQ(r.status, 0);
    // Then what the run wrote.
    const std::string summary =
        "tavrin-cli: 1 record written to \"" + isolated(dir.file("out.txt")) + "\"; 1 without an address\n";
    EXPECT_EQ(r.err, "\r" + c.frame + "\x1b[K\r\x1b[K" + summary);
    r = runTool({"-q", input, dir.file("out.txt")}, {.errorTerminal = terminal.side(), .terminal = ""});
    EXPECT_EQ(r.err, "");
    // The output on the same terminal would mix with it.
    r = runTool({input, "-"}, {.output = terminal.side(), .errorTerminal = terminal.side(), .terminal = ""});
    EXPECT_EQ(r.err, "");
    // No escape sequences for a terminal that takes none: blanks clear the line.
    r = runTool({input, dir.file("out.txt")},
                {.errorTerminal = terminal.side(), .terminalTakesEscapes = false, .terminal = ""});
    EXPECT_EQ(r.err, "\r" + c.frame + "\r" + std::string(c.columns, ' ') + "\r" + summary);
  }
}
#endif

#ifdef _WIN32  // paths
// What stands for a descriptor on POSIX is a path: on the current drive of
// Windows, which has no folder \dev or \proc here; under Wine, the Linux
// file system's, where no process has a descriptor 987.
TEST(Cli, DescriptorNamesOfPosixArePathsOnWindows) {
  struct Case {
    std::string input;
    std::string output;
    std::string said;
  };
  const std::vector<Case> cases = {
      {"/dev/fd/987", "out.csv", "Cannot open the input file \"" + isolated("/dev/fd/987") + "\""},
      {"/proc/self/fd/987", "out.csv",
       "Cannot open the input file \"" + isolated("/proc/self/fd/987") + "\""},
      {"in.txt", "/dev/fd/987", "Cannot create the output file \"" + isolated("/dev/fd/987") + "\""},
  };
  TempDir dir;
  dir.write("in.txt", "a@b");
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(dir.file(""));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input + " " + c.output);
    const CliResult r = runTool({"-q", c.input, c.output});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tavrin-cli: " + c.said + ": No such file or directory(2)\n");
  }
  std::filesystem::current_path(before);
}
#endif

#ifdef _WIN32  // Windows' pipes
// An output pipe whose reader is gone ends the run at once with one message,
// as on POSIX, whichever of its errors Windows gives for it.
TEST(Cli, AClosedPipeEndsTheRunWithOneMessage) {
  struct Case {
    std::string name;
    bool closed;  // else disconnected
  };
  const std::vector<Case> cases = {
      {"the reader closed it (232)", true},
      {"the reader disconnected it (233)", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::string lines;
    for (int i = 0; i < 100000; ++i) lines += "a,b\n";
    const std::string input = dir.write("in.txt", lines);
    const std::string name = "\\\\.\\pipe\\tavrin-cli-closed-" + std::to_string(GetCurrentProcessId());
    const HANDLE reader = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                           4096, 4096, 0, nullptr);
    const HANDLE writer = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    ConnectNamedPipe(reader, nullptr);
    c.closed ? CloseHandle(reader) : DisconnectNamedPipe(reader);
    const CliResult r = runTool({"-q", input, "-"}, {.output = reinterpret_cast<FileHandle>(writer)});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.starts_with("tavrin-cli: ")) << r.err;
    EXPECT_EQ(r.err.find("tavrin-cli: ", 1), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Broken pipe(32)"), std::string::npos) << r.err;
    CloseHandle(writer);
    if (!c.closed) CloseHandle(reader);
  }
}
#endif

#ifdef _WIN32  // a console of its own
std::wstring wide(std::string_view text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring converted(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), converted.data(), size);
  return converted;
}

// Whether `done` comes true within five seconds.
bool within5Seconds(const std::function<bool()>& done) {
  for (int tries = 0; tries < 500; ++tries) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// The built tavrin-cli.exe in a console of its own, as a user runs it,
// reading a pipe that sends a line now and then, as a slow program would;
// Ctrl-C comes from the console once the progress line is there.
TEST(Cli, CtrlCOnTheConsoleClearsTheProgressLineAndRemovesTheOutput) {
  TempDir dir;
  const std::wstring pipeName = L"\\\\.\\pipe\\tavrin-cli-test-" + std::to_wstring(GetCurrentProcessId());
  const HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                       4096, 4096, 0, nullptr);
  std::wstring command =
      L"\"" + wide(TAVRIN_CLI) + L"\" " + pipeName + L" \"" + wide(dir.file("out.csv")) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                             nullptr, &startup, &process));
  ConnectNamedPipe(pipe, nullptr);
  // Until the program has gone and the pipe takes no more.
  std::thread writer([pipe] {
    for (DWORD written = 0; WriteFile(pipe, "a,b\n", 4, &written, nullptr);)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  // This test shares the console to read it, and lets Ctrl-C pass.
  FreeConsole();
  ASSERT_TRUE(AttachConsole(process.dwProcessId));
  SetConsoleCtrlHandler(nullptr, TRUE);
  const HANDLE console = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  auto cursorRow = [&] {
    CONSOLE_SCREEN_BUFFER_INFO information{};
    GetConsoleScreenBufferInfo(console, &information);
    std::wstring row(static_cast<std::size_t>(information.dwSize.X), L'\0');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(console, row.data(), static_cast<DWORD>(row.size()),
                                {0, information.dwCursorPosition.Y}, &read);
    row.erase(row.find_last_not_of(L' ') + 1);
    return std::pair(row, information.dwCursorPosition.X);
  };
  EXPECT_TRUE(within5Seconds([&] { return !cursorRow().first.empty(); }));
  EXPECT_TRUE(std::filesystem::exists(pathOf(dir.file("out.csv"))));
  GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
  if (WaitForSingleObject(process.hProcess, 5000) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "Ctrl-C did not end tavrin-cli";
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, INFINITE);
  }
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  EXPECT_EQ(status, STATUS_CONTROL_C_EXIT);
  EXPECT_EQ(cursorRow(), std::pair(std::wstring(), SHORT{0}));
  EXPECT_FALSE(std::filesystem::exists(pathOf(dir.file("out.csv"))));
  CloseHandle(console);
  SetConsoleCtrlHandler(nullptr, FALSE);
  FreeConsole();
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  writer.join();
  CloseHandle(pipe);
}
#endif

// The manual page lists exactly the options that --help lists.
TEST(Cli, ManualPageAndHelpListTheSameOptions) {
  const std::string help = runTool({"--help"}).out;
  std::string page = readFile(TAVRIN_CLI_MANUAL_PAGE);
  std::erase(page, '\\');  // roff writes "\-" for a hyphen
  auto options = [](const std::string& text) {
    std::set<std::string> found;
    for (std::size_t at = text.find("--"); at != std::string::npos; at = text.find("--", at + 2)) {
      const std::size_t end = text.find_first_not_of("abcdefghijklmnopqrstuvwxyz-", at + 2);
      if (end > at + 2) found.insert(text.substr(at, end - at));
    }
    return found;
  };
  EXPECT_EQ(options(page), options(help));
}

}  // namespace
}  // namespace tavrin
