// Bad input and faults. Every case runs twice, through the engine with a
// recording host and through tavrin-cli in-process, and checks what the user
// is told, the exit status, the output file's state afterwards and that the
// input is exactly as it was.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.hpp"
#include "engine/conversion_run.hpp"
#include "literal_steps.hpp"
#include "recording_host.hpp"
#include "shown.hpp"
#include "temp_dir.hpp"

namespace tavrin {
namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

enum class Kind { Message, Question, Warning };

// One thing the user is told; "{in}" and "{out}" stand for the file names,
// as the program shows them.
// tavrin-cli puts the line's number in front of what it says about a line.
struct Said {
  Kind kind;
  std::string text;
  int lineNumber = 0;
};

Said message(std::string text) {
  return {Kind::Message, std::move(text)};
}
// What a run report adds about an output that the run had begun.
std::string holds(std::string_view records) {
  return "\r\nThe output file \"{out}\" holds " + std::string(records) + ".";
}
Said question(int lineNumber, std::string_view line, std::string_view description, int number) {
  return {Kind::Question,
          "Error processing line: " + isolated(line) + "\r\nDescription: " + std::string(description) +
              "\r\nNumber: " + std::to_string(number),
          lineNumber};
}
Said unclosedQuote(int lineNumber, std::string_view line) {
  return {Kind::Warning,
          "Tavrin: Error: Invalid argument: a quote stays open to the end of line " +
              std::to_string(lineNumber) + ", which begins " + isolated(line),
          lineNumber};
}

enum class OutputIs { Missing, Written, AsBefore };

// What a case's preparation leaves: the names the run is given, and a thread
// that feeds a pipe while the run reads it.
struct Files {
  std::string input;
  std::string output;
  std::shared_ptr<std::jthread> writer = nullptr;
};

using Make = std::function<Files(const TempDir&)>;

struct Case {
  std::string name;
  std::string separator = ",";
  bool unbuild = false;
  bool answerNo = false;    // No to every line report, and a stop at a warning: --on-line-error stop
  bool engineOnly = false;  // a command line cannot carry a NUL character
  Make make = nullptr;
  std::vector<Said> said = {};
  int exitStatus = 0;
  OutputIs output = OutputIs::Written;
  std::string written = {};  // the output's bytes when it is Written
};

constexpr std::string_view kOldOutput = "an output from before\r\n";

std::string crLf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string utf16(std::string_view ascii, bool little) {
  std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
  for (const char c : ascii) bytes += little ? std::string{c, '\0'} : std::string{'\0', c};
  return bytes;
}

// An input file holding `content` beside an output file from an earlier run.
Make holding(std::string content) {
  return [content = std::move(content)](const TempDir& dir) -> Files {
    return {dir.write("in.txt", content), dir.write("out.txt", kOldOutput)};
  };
}

// The same, with the output named by `output` (given the folder's own path).
Make holdingWithOutput(std::string content, std::function<std::string(const TempDir&)> output) {
  return [content, output](const TempDir& dir) -> Files {
    return {dir.write("in.txt", content), output(dir)};
  };
}

// A named pipe that a thread fills with `content` once the run opens it.
Make pipe(std::string content) {
  return [content](const TempDir& dir) -> Files {
    const std::string pipe = dir.file("pipe");
    if (::mkfifo(pipe.c_str(), 0600) != 0) ADD_FAILURE() << "mkfifo: " << std::strerror(errno);
    auto writer = std::make_shared<std::jthread>([pipe, content] {
      // A run that never opens the pipe must not hang the test: give up after a while.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      int fd = -1;
      while ((fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && errno == ENXIO &&
             std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      if (fd < 0) return;
      ::fcntl(fd, F_SETFL, 0);
      for (std::size_t done = 0; done < content.size();) {
        const ssize_t count = ::write(fd, content.data() + done, content.size() - done);
        if (count <= 0) break;
        done += static_cast<std::size_t>(count);
      }
      ::close(fd);
    });
    return {pipe, dir.write("out.txt", kOldOutput), writer};
  };
}

// A device or other file outside the case's folder as the input.
Make device(std::string input) {
  return [input](const TempDir& dir) -> Files { return {input, dir.write("out.txt", kOldOutput)}; };
}

// The whole file in one read: the 100 MB cases read a lot.
std::string bytes(const std::string& path, std::size_t size) {
  std::string bytes(size, '\0');
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  std::size_t done = 0;
  for (ssize_t count = 1; fd >= 0 && done < size && count > 0; done += static_cast<std::size_t>(count)) {
    count = std::max<ssize_t>(::read(fd, bytes.data() + done, size - done), 0);
  }
  if (fd >= 0) ::close(fd);
  bytes.resize(done);
  return bytes;
}

// What a name leads to, enough to tell whether a run changed it.
struct Snapshot {
  bool exists = false;
  mode_t type = 0;
  std::string target;                // a symbolic link's
  std::string bytes;                 // a regular file's, also behind a link
  std::vector<std::string> entries;  // a folder's
  bool operator==(const Snapshot&) const = default;
};

void PrintTo(const Snapshot& s, std::ostream* os) {
  if (!s.exists) {
    *os << "(nothing)";
    return;
  }
  *os << "type " << std::oct << s.type << std::dec << ", " << s.bytes.size() << " bytes";
  if (!s.target.empty()) *os << ", link to " << s.target;
  if (s.bytes.size() <= 200) *os << " " << testing::PrintToString(s.bytes);
  for (const std::string& entry : s.entries) *os << " [" << entry << "]";
}

Snapshot snapshotOf(const std::string& path) {
  Snapshot s;
  struct stat entry {};
  if (::lstat(path.c_str(), &entry) != 0) return s;
  s.exists = true;
  s.type = entry.st_mode & S_IFMT;
  if (S_ISLNK(entry.st_mode)) s.target = fs::read_symlink(path).string();
  struct stat target {};
  if (::stat(path.c_str(), &target) != 0) return s;
  // Files of /proc tell the size 0 and may fail to read; they are never written.
  if (S_ISREG(target.st_mode)) s.bytes = bytes(path, static_cast<std::size_t>(target.st_size));
  if (S_ISDIR(target.st_mode)) {
    for (const auto& e : fs::directory_iterator(path)) s.entries.push_back(e.path().filename().string());
    std::sort(s.entries.begin(), s.entries.end());
  }
  return s;
}

// Compares possibly huge texts without printing them whole.
testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return testing::AssertionSuccess();
  const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  const std::size_t at = static_cast<std::size_t>(a - actual.begin());
  return testing::AssertionFailure() << actual.size() << " bytes instead of " << expected.size()
                                     << ", first difference at byte " << at << ": "
                                     << testing::PrintToString(actual.substr(at, 40)) << " instead of "
                                     << testing::PrintToString(expected.substr(at, 40));
}

struct Outcome {
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::vector<std::string> warnings;
  int exitStatus = 0;
  std::string out;
  std::string err;
};

Outcome runEngine(const Case& c, const Files& files) {
  RecordingHost host;
  host.separator = c.separator;
  host.inputFileName = files.input;
  host.outputFileName = files.output;
  host.unbuild = c.unbuild;
  host.answers.assign(64, !c.answerNo);
  host.stopAtWarnings = c.answerNo;
  ConversionRun(host);
  return {host.messages, host.questions, host.warnings, 0, {}, {}};
}

Outcome runCommandLine(const Case& c, const Files& files) {
  std::vector<std::string> args = {"--on-line-error", c.answerNo ? "stop" : "continue", "--separator",
                                   c.separator};
  if (c.unbuild) args.emplace_back("--unbuild");
  args.insert(args.end(), {"--", files.input, files.output});
  std::ostringstream out;
  std::ostringstream err;
  Outcome outcome;
  outcome.exitStatus = RunCli(args, out, err, Inherited{});
  outcome.out = out.str();
  outcome.err = err.str();
  return outcome;
}

std::string named(std::string text, const Files& files) {
  for (const auto& [mark, name] : {std::pair{"{in}"s, files.input}, std::pair{"{out}"s, files.output}}) {
    for (std::size_t at = text.find(mark); at != std::string::npos;
         at = text.find(mark, at + isolated(name).size())) {
      text.replace(at, mark.size(), isolated(name));
    }
  }
  return text;
}

// Runs one case both ways. `run` stands between the case and the front end,
// for the cases that must run as another user.
using Runner = std::function<std::optional<Outcome>(const std::function<Outcome()>&)>;

void verify(
    const Case& c, const Runner& run = [](const std::function<Outcome()>& body) { return body(); }) {
  for (const bool commandLine : {false, true}) {
    if (commandLine && c.engineOnly) continue;
    SCOPED_TRACE(c.name + (commandLine ? " (tavrin-cli)" : " (engine)"));
    TempDir dir;
    Files files = c.make(dir);
    const Snapshot inputBefore = snapshotOf(files.input);
    const Snapshot outputBefore = snapshotOf(files.output);

    const std::optional<Outcome> outcome =
        run([&] { return commandLine ? runCommandLine(c, files) : runEngine(c, files); });
    files.writer.reset();  // the pipe has been read
    if (!outcome) return;

    if (commandLine) {
      std::string err;
      for (const Said& s : c.said) {
        std::string text = named(s.text, files);
        if (s.kind != Kind::Message)
          text.insert(0, isolated(files.input) + ':' + std::to_string(s.lineNumber) + ": ");
        for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, "\n");
        err += "tavrin-cli: " + text + "\n";
      }
      EXPECT_EQ(outcome->err, err);
      EXPECT_EQ(outcome->out, "");
      EXPECT_EQ(outcome->exitStatus, c.exitStatus);
    } else {
      auto texts = [&](Kind kind) {
        std::vector<std::string> found;
        for (const Said& s : c.said) {
          if (s.kind == kind) found.push_back(named(s.text, files));
        }
        return found;
      };
      EXPECT_EQ(outcome->messages, texts(Kind::Message));
      EXPECT_EQ(outcome->questions, texts(Kind::Question));
      EXPECT_EQ(outcome->warnings, texts(Kind::Warning));
    }

    const Snapshot inputAfter = snapshotOf(files.input);
    EXPECT_TRUE(inputAfter.exists == inputBefore.exists && inputAfter.type == inputBefore.type &&
                inputAfter.target == inputBefore.target && inputAfter.entries == inputBefore.entries)
        << "the input changed: " << testing::PrintToString(inputAfter);
    EXPECT_TRUE(sameBytes(inputAfter.bytes, inputBefore.bytes)) << "the input's bytes changed";

    const Snapshot outputAfter = snapshotOf(files.output);
    switch (c.output) {
      case OutputIs::Missing:
        EXPECT_FALSE(outputAfter.exists) << testing::PrintToString(outputAfter);
        break;
      case OutputIs::Written:
        EXPECT_EQ(outputAfter.type, S_IFREG);
        EXPECT_TRUE(sameBytes(outputAfter.bytes, c.written));
        break;
      case OutputIs::AsBefore:
        EXPECT_EQ(outputAfter, outputBefore);
        break;
    }
    fs::permissions(dir.file(""), fs::perms::owner_all, fs::perm_options::add);  // so that it can be removed
  }
}

TEST(BadInput, InputThatCannotBeReadEndsTheRunWithItsReport) {
  const std::vector<Case> cases = {
      {.name = "missing input",
       .make = [](const TempDir& d) -> Files {
         return {d.file("missing.txt"), d.write("out.txt", kOldOutput)};
       },
       .said = {message(R"(Cannot open the input file "{in}": No such file or directory(2))")},
       .exitStatus = 2,
       .output = OutputIs::Missing},
      {.name = "empty input name",
       .make = device(""),
       .said = {message(R"(Cannot open the input file "{in}": No such file or directory(2))")},
       .exitStatus = 2,
       .output = OutputIs::Missing},
      {.name = "input is a folder",
       .make = [](const TempDir& d) -> Files {
         fs::create_directory(d.file("folder"));
         d.write("folder/kept.txt", "a,b");
         return {d.file("folder"), d.write("out.txt", kOldOutput)};
       },
       .said = {message(R"(Cannot open the input file "{in}": Is a directory(21))")},
       .exitStatus = 2,
       .output = OutputIs::Missing},
      {.name = "input fails to read",
       .make = device("/proc/self/mem"),
       .said = {message(R"(Cannot read line 1 of the input file "{in}": Input/output error(5))" +
                        holds("0 records"))},
       .exitStatus = 2,
       .written = ""},
      {.name = "a line over the limit after the first",
       .make = [](const TempDir& d) -> Files {
         const std::string input = d.write("in.txt", "a\n");
         fs::resize_file(input, (std::uintmax_t{257} << 20) + 2);  // zeros that take no room
         return {input, d.write("out.txt", kOldOutput)};
       },
       .said = {message(
           R"(Cannot read line 2 of the input file "{in}", which is longer than 256 MiB: File too large(27))" +
           holds("1 record"))},
       .exitStatus = 2,
       .written = crLf({"EMail1", "a"})},
      {.name = "a UTF-16 line over the limit by its own bytes, not by its UTF-8",
       .make = [](const TempDir& d) -> Files {
         const std::string input = d.write("in.txt", "\xFF\xFE");
         fs::resize_file(input, (std::uintmax_t{257} << 20) + 2);
         return {input, d.write("out.txt", kOldOutput)};
       },
       .said = {message(
           R"(Cannot read line 1 of the input file "{in}", which is longer than 256 MiB: File too large(27))" +
           holds("0 records"))},
       .exitStatus = 2,
       .written = ""},
      {.name = "endless input without a line end",
       .make = device("/dev/zero"),
       .said = {message(
           R"(Cannot read line 1 of the input file "{in}", which is longer than 256 MiB: File too large(27))" +
           holds("0 records"))},
       .exitStatus = 2,
       .written = ""},
  };
  for (const Case& c : cases) verify(c);
}

TEST(BadInput, PipesAndDevicesAreReadAsTheyStream) {
  const std::vector<Case> cases = {
      {.name = "named pipe", .make = pipe("a,b\r\nc"), .written = crLf({"EMail1", "a", "b", "c"})},
      {.name = "named pipe, unbuild",
       .unbuild = true,
       .make = pipe("\"Last, First\" <a@x>\n\"Last\""),
       .said = {question(2, "\"Last\"", "Invalid argument", EINVAL)},
       .exitStatus = 1,
       .written = crLf({"DisplayName,EMail1", "First Last,a@x"})},
      {.name = "null device", .make = device("/dev/null"), .written = ""},
  };
  for (const Case& c : cases) verify(c);
}

TEST(BadInput, OutputThatCannotBeWrittenIsReported) {
  auto holding = [](std::string content, std::string output) {
    return holdingWithOutput(content, [output](const TempDir& d) {
      return output.starts_with('/') || output.empty() ? output : d.file(output);
    });
  };
  const std::string fullDisk = R"(Cannot write the output file "{out}": No space left on device)";
  const std::vector<Case> cases = {
      {.name = "output in a missing folder",
       .make = holding("a,b\nc\n", "no/out.txt"),
       .said = {message(R"(Cannot create the output file "{out}": No such file or directory(2))")},
       .exitStatus = 2,
       .output = OutputIs::Missing},
      {.name = "output names a folder",
       .make = holdingWithOutput("a,b\nc\n",
                                 [](const TempDir& d) {
                                   fs::create_directory(d.file("folder"));
                                   d.write("folder/kept.txt", "kept");
                                   return d.file("folder");
                                 }),
       .said = {message(R"(Cannot write the output file "{out}", which is a folder: Is a directory(21))")},
       .exitStatus = 2,
       .output = OutputIs::AsBefore},
      {.name = "empty output name",
       .make = holding("a,b\nc\n", ""),
       .said = {message(R"(Cannot create the output file "{out}": No such file or directory(2))")},
       .exitStatus = 2,
       .output = OutputIs::Missing},
      {.name = "full disk",
       .make = holding("a,b\nc\n", "/dev/full"),
       .said = {question(2, "c", fullDisk, ENOSPC), message(fullDisk + "(28)" + holds("0 records"))},
       .exitStatus = 2,
       .output = OutputIs::AsBefore},
      {.name = "full disk, unbuild, No",
       .unbuild = true,
       .answerNo = true,
       .make = holding("\"Last, First\" <a@x>\r\n<b@y>", "/dev/full"),
       .said = {question(2, "<b@y>", fullDisk, ENOSPC)},
       .exitStatus = 2,
       .output = OutputIs::AsBefore},
      {.name = "full disk and nothing to write",
       .make = holding(" , ,\n\n", "/dev/full"),
       .output = OutputIs::AsBefore},
  };
  for (const Case& c : cases) verify(c);
}

TEST(BadInput, OutputNamingTheInputLeavesBothAsTheyWere) {
  auto output = [](std::function<std::string(const TempDir&)> name) {
    return holdingWithOutput("a,b\n", name);
  };
  const std::vector<std::pair<std::string, Make>> spellings = {
      {"same name", output([](const TempDir& d) { return d.file("in.txt"); })},
      {"through a dot", output([](const TempDir& d) { return d.file("./in.txt"); })},
      {"doubled slash", output([](const TempDir& d) { return d.file("") + "/in.txt"; })},
      {"through a parent", output([](const TempDir& d) {
         fs::create_directory(d.file("sub"));
         return d.file("sub/../in.txt");
       })},
      {"relative to the working folder",
       output([](const TempDir& d) { return fs::relative(d.file("in.txt")).string(); })},
      {"symbolic link", output([](const TempDir& d) {
         fs::create_symlink(d.file("in.txt"), d.file("link.txt"));
         return d.file("link.txt");
       })},
      {"hard link", output([](const TempDir& d) {
         fs::create_hard_link(d.file("in.txt"), d.file("hard.txt"));
         return d.file("hard.txt");
       })},
      {"input through a symbolic link",
       [](const TempDir& d) -> Files {
         const std::string real = d.write("real.txt", "a,b\n");
         fs::create_symlink(real, d.file("link.txt"));
         return {d.file("link.txt"), real};
       }},
  };
  for (const auto& [name, make] : spellings) {
    for (const bool unbuild : {false, true}) {
      verify({.name = name,
              .unbuild = unbuild,
              .make = make,
              .said = {message(
                  R"(The output file "{out}" is the input file "{in}"; both are left as they are(22))")},
              .exitStatus = 2,
              .output = OutputIs::AsBefore});
    }
  }
}

void writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t count = ::write(fd, bytes.data(), bytes.size());
    if (count <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(count));
  }
}

void putText(std::string& wire, std::string_view text) {
  wire += std::to_string(text.size()) + ":";
  wire += text;
}

std::string takeText(std::string_view& wire) {
  const std::size_t colon = wire.find(':');
  const std::size_t size = std::stoul(std::string(wire.substr(0, colon)));
  std::string text(wire.substr(colon + 1, size));
  wire.remove_prefix(colon + 1 + size);
  return text;
}

std::string encode(const Outcome& o) {
  std::string wire;
  for (const auto* list : {&o.messages, &o.questions, &o.warnings}) {
    putText(wire, std::to_string(list->size()));
    for (const std::string& text : *list) putText(wire, text);
  }
  putText(wire, std::to_string(o.exitStatus));
  putText(wire, o.out);
  putText(wire, o.err);
  return wire;
}

Outcome decode(std::string_view wire) {
  Outcome o;
  for (auto* list : {&o.messages, &o.questions, &o.warnings}) {
    for (std::size_t n = std::stoul(takeText(wire)); n > 0; --n) list->push_back(takeText(wire));
  }
  o.exitStatus = std::stoi(takeText(wire));
  o.out = takeText(wire);
  o.err = takeText(wire);
  return o;
}

// Runs the body in a child process that has become the user nobody, for whom
// file permissions hold as they do not for root, and brings its outcome back
// through a pipe. Without root the body runs here.
class AsNobody {
 public:
  std::optional<Outcome> operator()(const std::function<Outcome()>& body) {
    if (::geteuid() != 0) return body();
    const passwd* nobody = ::getpwnam("nobody");
    const uid_t uid = nobody ? nobody->pw_uid : 65534;
    const gid_t gid = nobody ? nobody->pw_gid : 65534;
    int fds[2];
    if (::pipe(fds) != 0) {
      ADD_FAILURE() << "pipe: " << std::strerror(errno);
      return std::nullopt;
    }
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(fds[0]);
      std::string wire;
      if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
        wire = "!" + std::string(std::strerror(errno));
      } else {
        wire = encode(body());
      }
      writeAll(fds[1], wire);
      ::_exit(0);
    }
    ::close(fds[1]);
    std::string wire;
    char buffer[4096];
    for (ssize_t count; (count = ::read(fds[0], buffer, sizeof buffer)) > 0;) {
      wire.append(buffer, static_cast<std::size_t>(count));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || wire.empty()) {
      ADD_FAILURE() << "the run as the user nobody did not end normally: status " << status;
      return std::nullopt;
    }
    if (wire.starts_with('!')) {
      m_refused = "cannot become the user nobody here: " + wire.substr(1);
      return std::nullopt;
    }
    return decode(wire);
  }

  // Why the user could not be changed; empty when it could.
  const std::string& refused() const { return m_refused; }

 private:
  std::string m_refused;
};

// Opens the case's folder to the user nobody and gives the files `mode`.
void openTo(const TempDir& d, const std::string& file, mode_t folderMode, mode_t fileMode) {
  fs::permissions(d.file(""), static_cast<fs::perms>(folderMode));
  fs::permissions(file, static_cast<fs::perms>(fileMode));
}

TEST(BadInput, FilesWithoutPermissionAreReported) {
  std::vector<Case> cases = {
      {.name = "input may not be read",
       .make = [](const TempDir& d) -> Files {
         const std::string input = d.write("in.txt", "a,b\n");
         const std::string output = d.write("out.txt", kOldOutput);
         openTo(d, output, 0777, 0666);  // the old output can be deleted
         openTo(d, input, 0777, 0);
         return {input, output};
       },
       .said = {message(R"(Cannot open the input file "{in}": Permission denied(13))")},
       .exitStatus = 2,
       .output = OutputIs::Missing},
      {.name = "output may not be written",
       .make = [](const TempDir& d) -> Files {
         const std::string input = d.write("in.txt", "a,b\n");
         const std::string output = d.write("out.txt", kOldOutput);
         openTo(d, input, 0555, 0644);
         openTo(d, output, 0555, 0444);  // nor deleted, in a folder that may not be written
         return {input, output};
       },
       .said = {message(
           R"(Cannot write the output file "{out}", which is write-protected: Permission denied(13))")},
       .exitStatus = 2,
       .output = OutputIs::AsBefore},
  };
  // Put in a shared sticky folder by a third user, to catch what is written
  // there: the program refuses them, whatever the kernel's settings.
  std::vector<Case> planted;
  for (const bool pipe : {false, true}) {
    planted.push_back(
        {.name = pipe ? "another user's pipe in a sticky folder" : "another user's file in a sticky folder",
         .make = [pipe](const TempDir& d) -> Files {
           const std::string input = d.write("in.txt", "a,b\n");
           const std::string output = d.file("out.txt");
           if (pipe) {
             ::mkfifo(output.c_str(), 0666);
           } else {
             d.write("out.txt", kOldOutput);
           }
           if (::chown(output.c_str(), 12345, 12345) != 0) ADD_FAILURE() << std::strerror(errno);
           openTo(d, output, 01777, 0666);
           fs::permissions(input, fs::perms(0644));
           return {input, output};
         },
         .said = {message(
             R"(Cannot write the output file "{out}", which belongs to another user in a folder that others may write: Permission denied(13))")},
         .exitStatus = 2,
         .output = OutputIs::AsBefore});
  }
  if (::geteuid() == 0) cases.insert(cases.end(), planted.begin(), planted.end());
  AsNobody asNobody;
  for (const Case& c : cases) {
    verify(c, std::ref(asNobody));
    if (!asNobody.refused().empty()) GTEST_SKIP() << asNobody.refused();
  }
}

TEST(BadInput, StrangeContentIsConvertedCharacterForCharacter) {
  auto oddByte = [](int line, std::string_view records) {
    return message("Cannot read line " + std::to_string(line) +
                   R"( of the input file "{in}", which ends in half a character: )"
                   "Invalid or incomplete multibyte or wide character(84)" +
                   holds(records));
  };
  const std::string onlySeparators = " , ,,  ,\n,,,\r\n   \n,";
  const std::vector<Case> cases = {
      {.name = "NUL characters",
       .make = holding("a\0b,\0, \0 ,c\0\n\0\0\n"s),
       .written = crLf({"EMail1", "a\0b"s, "\0"s, "\0"s, "c\0"s, "\0\0"s})},
      {.name = "NUL separator means a comma",
       .separator = "\0"s,
       .engineOnly = true,
       .make = holding("a,b\0c"s),
       .written = crLf({"EMail1", "a", "b\0c"s})},
      {.name = "invalid UTF-8 passes through",
       .make = holding("\xFF"
                       "a,b\xC3\n\xC3\xA9\xC3,\xE2\x82\n\xED\xA0\x80,\xF4\x90\x80\x80"),
       .written = crLf({"EMail1",
                        "\xFF"
                        "a",
                        "b\xC3", "\xC3\xA9\xC3", "\xE2\x82", "\xED\xA0\x80", "\xF4\x90\x80\x80"})},
      {.name = "a stray byte as separator never cuts a character",
       .separator = "\xC3",
       .make = holding("\xC3\xA9\xC3x\xC3\xA9"),
       .written = crLf({"EMail1", "\xC3\xA9", "x\xC3\xA9"})},
      {.name = "UTF-16 with an odd byte after a line",
       .make = holding("\xFF\xFE"
                       "a\0\n\0b"s),
       .said = {oddByte(2, "1 record")},
       .exitStatus = 2,
       .written = utf16("EMail1\r\na\r\n", true)},
      {.name = "UTF-16 big-endian with an odd byte in its only line",
       .make = holding("\xFE\xFF\0a\0"s),
       .said = {oddByte(2, "1 record")},
       .exitStatus = 2,
       .written = utf16("EMail1\r\na\r\n", false)},
      {.name = "UTF-16 of one odd byte",
       .make = holding("\xFF\xFE"
                       "x"),
       .said = {oddByte(1, "0 records")},
       .exitStatus = 2,
       .written = ""},
      {.name = "UTF-8 byte order mark alone", .make = holding("\xEF\xBB\xBF"), .written = ""},
      {.name = "UTF-16 little-endian mark alone", .make = holding("\xFF\xFE"), .written = ""},
      {.name = "UTF-16 big-endian mark alone", .make = holding("\xFE\xFF"), .written = ""},
      {.name = "lone carriage returns",
       .make = holding("a\rb\r\rc,d\r"),
       .written = crLf({"EMail1", "a", "b", "c", "d"})},
      {.name = "every kind of line end",
       .make = holding("a\r\n\rb\n\r\nc\n\rd"),
       .written = crLf({"EMail1", "a", "b", "c", "d"})},
      {.name = "no final line end", .make = holding("a,b\nc"), .written = crLf({"EMail1", "a", "b", "c"})},
      {.name = "only separators and spaces", .make = holding(onlySeparators), .written = ""},
      {.name = "only separators and spaces, unbuild",
       .unbuild = true,
       .make = holding(onlySeparators),
       .written = ""},
      {.name = "separator of several characters",
       .separator = "::",
       .make = holding("a::b:::c\n::\n:\nx::\n\"p::q\"::r"),
       .written = crLf({"EMail1", "a", "b", ":c", ":", "x", "\"p::q\"", "r"})},
      {.name = "separator of several characters with blanks around it",
       .separator = "  ->  ",
       .make = holding("a->b - > c->"),
       .written = crLf({"EMail1", "a", "b - > c"})},
      {.name = "tab separator",
       .separator = "\t",
       .make = holding("a\tb \t c\t\t\n\t\n\"d\te\""),
       .written = crLf({"EMail1", "a", "b", "c", "\"d\te\""})},
      {.name = "blank separator means a comma",
       .separator = "   ",
       .make = holding("a,b c"),
       .written = crLf({"EMail1", "a", "b c"})},
      {.name = "unclosed quote",
       .make = holding("a,\"b\nc"),
       .said = {unclosedQuote(1, "a,\"b")},
       .exitStatus = 1,
       .written = crLf({"EMail1", "c"})},
      {.name = "unclosed quote, stop",
       .answerNo = true,
       .make = holding("x\na,\"b\nc"),
       .said = {unclosedQuote(2, "a,\"b")},
       .exitStatus = 1,
       .written = crLf({"EMail1", "x"})},
      {.name = "the bytes of a surrogate are characters each",
       .separator = "\xA0\x80",
       .make = holding("x\xED\xA0\x80y"),
       .written = crLf({"EMail1", "x\xED", "y"})},
      {.name = "a lone surrogate of a UTF-16 file is one character",
       .separator = "\xA0\x80",
       .make = holding("\xFF\xFEx\0\0\xD8y\0"s),
       .written = utf16("EMail1\r\nx", true) + "\0\xD8y\0\r\0\n\0"s},
      {.name = "quoted name with nothing after it, Yes",
       .unbuild = true,
       .make = holding("\"Last\"\n\"Last, First\" <a@x>"),
       .said = {question(1, "\"Last\"", "Invalid argument", EINVAL)},
       .exitStatus = 1,
       .written = crLf({"DisplayName,EMail1", "First Last,a@x"})},
      {.name = "quoted name with nothing after it, No",
       .unbuild = true,
       .answerNo = true,
       .make = holding("\"Last\"\n\"Last, First\" <a@x>"),
       .said = {question(1, "\"Last\"", "Invalid argument", EINVAL)},
       .exitStatus = 1,
       .written = ""},
      {.name = "warning and line reports in their order",
       .unbuild = true,
       .make = holding("a,\"b\n<a@x>,\"x\"\n\"y\" z\n<b@y>"),
       .said = {unclosedQuote(1, "a,\"b"), question(2, "<a@x>,\"x\"", "Invalid argument", EINVAL),
                question(3, "\"y\" z", "Invalid argument", EINVAL)},
       .exitStatus = 1,
       .written = crLf({"DisplayName,EMail1", "Partner,a@x", "Partner,b@y"})},
  };
  for (const Case& c : cases) verify(c);
}

// Random bytes, with the outcome that the literal steps give.
Case randomBytes(bool unbuild) {
  std::mt19937 random(20240607);
  std::string content(64 * 1024, '\0');
  for (char& c : content) c = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(random));
  content[0] = 'x';  // no byte order mark
  const literal::RunOutcome expected = literal::ConversionRun(
      content, ",", unbuild, [] { return true; }, literal::Form::Utf8);
  Case c{.name = unbuild ? "random bytes, unbuild" : "random bytes",
         .unbuild = unbuild,
         .make = holding(content),
         .exitStatus = expected.said.empty() ? 0 : 1,
         .written = expected.output};
  for (std::size_t i = 0; i < expected.said.size(); ++i) {
    const std::string& text = expected.said[i];
    c.said.push_back({text.starts_with("Error processing line: ") ? Kind::Question : Kind::Warning, text,
                      expected.saidOnLine[i]});
  }
  return c;
}

TEST(BadInput, RandomBytesNeitherCrashNorGetLost) {
  for (const bool unbuild : {false, true}) verify(randomBytes(unbuild));
}

TEST(BadInput, LineOf100MegabytesIsOneLine) {
  constexpr std::size_t kPairs = 50'000'000;  // "x," each: a quoted token of 100 MB
  std::string token = "\"";
  token.reserve(2 * kPairs + 2);
  for (std::size_t i = 0; i < kPairs; ++i) token += "x,";
  token += '"';
  verify({.name = "plain", .make = holding(token + ",y\n"), .written = crLf({"EMail1", token, "y"})});
  token.clear();
  token.shrink_to_fit();

  const std::string name(100'000'000, 'n');
  verify({.name = "unbuild",
          .unbuild = true,
          .make = holding(" \"" + name + "\" <a@x>"),
          .written = crLf({"DisplayName,EMail1", name + ",a@x"})});
}

}  // namespace
}  // namespace tavrin
