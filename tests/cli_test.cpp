#include "cli/cli.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "temp_dir.hpp"

namespace tavrin {
namespace {

struct CliResult {
  int status;
  std::string out;
  std::string err;
};

CliResult runTool(const std::vector<std::string>& args, const std::string& answers = "",
                  Terminals terminals = {false, false}) {
  std::istringstream in(answers);
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunCli(args, in, out, err, terminals);
  return {status, out.str(), err.str()};
}

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
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{}, "INPUT and OUTPUT files are needed"},
      {{"in.txt"}, "INPUT and OUTPUT files are needed"},
      {{"a", "b", "c"}, "too many arguments: only INPUT and OUTPUT are taken"},
      {{"-x", "a", "b"}, "unknown option '-x'"},
      {{"--frobnicate", "a", "b"}, "unknown option '--frobnicate'"},
      {{"a", "b", "-s"}, "option '-s' needs a value"},
      {{"a", "b", "--separator"}, "option '--separator' needs a value"},
      {{"--on-line-error", "maybe", "a", "b"},
       "invalid value 'maybe' for '--on-line-error': use ask, continue or stop"},
      {{"--unbuild=yes", "a", "b"}, "option '--unbuild' takes no value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const CliResult r = runTool(c.args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "tavrin-cli: " + c.message + "\nTry 'tavrin-cli --help' for more information.\n");
  }
}

TEST(Cli, OptionsReachTheRun) {
  struct Case {
    std::vector<std::string> options;
    std::string input;
    std::string output;
  };
  const std::vector<Case> cases = {
      {{}, "a,b;c", "EMail1\r\na\r\nb;c\r\n"},
      {{"-s", ";"}, "a,b;c", "EMail1\r\na,b\r\nc\r\n"},
      {{"-s;"}, "a,b;c", "EMail1\r\na,b\r\nc\r\n"},
      {{"--separator= ; "}, "a,b;c", "EMail1\r\na,b\r\nc\r\n"},
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
    args.push_back(dir.write("in.txt", c.input));
    args.push_back(dir.file("out.csv"));
    const CliResult r = runTool(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile(dir.file("out.csv")), c.output);
  }
}

TEST(Cli, LineErrorsFollowThePolicyOrTheAnswers) {
  const std::string input = "a@b\r\n\"X\",c@d\r\ne@f";
  const std::string report =
      "tavrin-cli: Error processing line: \"X\",c@d\r\nDescription: Invalid argument\r\nNumber: 22\n";
  const std::string prompt = "tavrin-cli: go on with the next line? [Y/n] ";
  const std::string all = "DisplayName,EMail1\r\nPartner,a@b\r\nPartner,e@f\r\n";
  const std::string stopped = "DisplayName,EMail1\r\nPartner,a@b\r\n";
  struct Case {
    std::string name;
    std::vector<std::string> options;
    std::string answers;
    Terminals terminals;
    std::string err;
    std::string output;
  };
  const std::vector<Case> cases = {
      {"continue", {"--on-line-error", "continue"}, "", {true, false}, report, all},
      {"stop", {"--on-line-error=stop"}, "", {false, false}, report, stopped},
      {"ask, yes", {"--on-line-error", "ask"}, "y\n", {false, false}, report + prompt, all},
      {"ask, no", {"--on-line-error", "ask"}, "no\n", {false, false}, report + prompt, stopped},
      {"ask, Enter takes Yes", {"--on-line-error", "ask"}, "\n", {false, false}, report + prompt, all},
      {"ask, asked again",
       {"--on-line-error", "ask"},
       "perhaps\nN\n",
       {false, false},
       report + prompt + prompt,
       stopped},
      {"ask, nobody answers", {"--on-line-error", "ask"}, "", {false, false}, report + prompt, all},
      {"default on a terminal asks", {}, "n\n", {true, false}, report + prompt, stopped},
      {"default elsewhere goes on", {}, "n\n", {false, false}, report, all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"-u", dir.write("in.txt", input), dir.file("out.csv")});
    const CliResult r = runTool(args, c.answers, c.terminals);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(readFile(dir.file("out.csv")), c.output);
    EXPECT_EQ(readFile(dir.file("in.txt")), input);
  }
}

TEST(Cli, WarningsAndRunReportsSetTheExitStatus) {
  TempDir dir;
  CliResult r = runTool({dir.write("in.txt", "a,\"b\r\nc"), dir.file("out.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "tavrin-cli: Tavrin: Error: Invalid argument\n");
  EXPECT_EQ(readFile(dir.file("out.txt")), "EMail1\r\nc\r\n");

  r = runTool({dir.file("missing.txt"), dir.file("out.txt")});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "tavrin-cli: Cannot open the input file \"" + dir.file("missing.txt") +
                       "\": No such file or directory(2)\n");

  r = runTool({dir.file("in.txt"), "/dev/full"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Cannot write the output file \"/dev/full\""), std::string::npos) << r.err;
}

TEST(Cli, ProgressLineOnlyOnATerminalAndClearedAtTheEnd) {
  TempDir dir;
  const std::string input = dir.write("in.txt", "first\x1b[2J,b");
  CliResult r = runTool({input, dir.file("out.txt")}, "", {false, true});
  EXPECT_EQ(r.status, 0);
  // Control characters of a token are not sent to the terminal. The last
  // token's text comes at the end of the run.
  EXPECT_EQ(r.err, "\r1 - first?[2J  (100%)\x1b[K\r2 - b  (100%)\x1b[K\r\x1b[K");

  r = runTool({"-q", input, dir.file("out.txt")}, "", {false, true});
  EXPECT_EQ(r.err, "");
}

}  // namespace
}  // namespace tavrin
