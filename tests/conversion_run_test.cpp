#include "engine/conversion_run.hpp"

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "recording_host.hpp"
#include "shown.hpp"
#include "temp_dir.hpp"

namespace tavrin {
namespace {

using Lines = std::vector<std::string>;

std::string crLf(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

class ConversionRunTest : public testing::Test {
 protected:
  // Runs a conversion of `input` (the content of in.txt) into out.txt.
  void convert(const std::string& input) {
    host.inputFileName = dir.write("in.txt", input);
    host.outputFileName = dir.file("out.txt");
    ConversionRun(host);
    EXPECT_EQ(readFile(host.inputFileName), input) << "the input file changed";
  }
  std::string output() const { return readFile(host.outputFileName); }
  bool outputExists() const { return std::filesystem::exists(host.outputFileName); }

  TempDir dir;
  RecordingHost host;
};

TEST_F(ConversionRunTest, PlainModeWritesOneTrimmedTokenALine) {
  struct Case {
    std::string input;
    Lines status;
    std::string output;
  };
  const std::vector<Case> cases = {
      {"a,b\r\nc",
       {"1 - " + isolated("a"), "2 - " + isolated("b"), "3 - " + isolated("c")},
       crLf({"EMail1", "a", "b", "c"})},
      {"x , y\n", {"1 - " + isolated("x"), "2 - " + isolated("y")}, crLf({"EMail1", "x", "y"})},
      {"\"q,r\",s", {"1 - " + isolated("\"q,r\""), "2 - " + isolated("s")}, crLf({"EMail1", "\"q,r\"", "s"})},
      {"\t,\t\t",
       {"1 - " + isolated("\\x09"), "2 - " + isolated("\\x09\\x09")},
       crLf({"EMail1", "\t", "\t\t"})},
      {"a\r\n\r\n\nb", {"1 - " + isolated("a"), "2 - " + isolated("b")}, crLf({"EMail1", "a", "b"})},
      {"", {}, ""},
      {",,, ,\r\n  ,\r\n", {}, ""},
      {std::string("\0,a", 3),
       {"1 - " + isolated("\\x00"), "2 - " + isolated("a")},
       crLf({std::string(1, '\0'), "a"}).insert(0, "EMail1\r\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.input));
    host = RecordingHost();
    convert(c.input);
    EXPECT_EQ(host.statusTexts, c.status);
    EXPECT_EQ(host.refreshes, static_cast<int>(c.status.size()));
    EXPECT_EQ(output(), c.output);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_TRUE(host.questions.empty());
    EXPECT_TRUE(host.warnings.empty());
  }
}

TEST_F(ConversionRunTest, SeparatorIsTrimmedAndABlankOneBecomesAComma) {
  struct Case {
    std::string separator;
    Lines separatorsSet;
    std::string input;
    std::string output;
  };
  const std::vector<Case> cases = {
      {" ; ", {";"}, "a;b,c", crLf({"EMail1", "a", "b,c"})},
      {",", {","}, "a,b", crLf({"EMail1", "a", "b"})},
      {"", {"", ","}, "a,b", crLf({"EMail1", "a", "b"})},
      {"   ", {"", ","}, "a,b", crLf({"EMail1", "a", "b"})},
      {std::string(2, '\0'), {std::string(2, '\0'), ","}, "a,b", crLf({"EMail1", "a", "b"})},
      {"\t", {"\t"}, "a\tb, c", crLf({"EMail1", "a", "b, c"})},
      {" :: ", {"::"}, "a::b:c", crLf({"EMail1", "a", "b:c"})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.separator));
    host = RecordingHost();
    host.separator = c.separator;
    convert(c.input);
    EXPECT_EQ(host.separatorsSet, c.separatorsSet);
    EXPECT_EQ(host.separator, c.separatorsSet.back());
    EXPECT_EQ(output(), c.output);
  }
}

TEST_F(ConversionRunTest, UnbuildModeWritesNameAndAddress) {
  host.unbuild = true;
  convert("\"Last, First\" <l@x.org>, b@y.org\r\nFirm Inc <f@g.h>");
  EXPECT_EQ(output(),
            crLf({"DisplayName,EMail1", "First Last,l@x.org", "Partner,b@y.org", "Firm Inc ,f@g.h"}));
  EXPECT_EQ(host.statusTexts, (Lines{"1 - " + isolated("\"Last, First\" <l@x.org>"),
                                     "2 - " + isolated("b@y.org"), "3 - " + isolated("Firm Inc <f@g.h>")}));
}

TEST_F(ConversionRunTest, FailingLineIsReportedAndYesGoesOnWithTheNextLine) {
  host.unbuild = true;
  host.answers = {true, true};
  convert("\"Last\",a@b\r\nc@d,\"X\" y\r\ne@f");
  EXPECT_EQ(host.questions, (Lines{"Error processing line: " + isolated("\"Last\",a@b") +
                                       "\r\nDescription: Invalid argument\r\nNumber: 22",
                                   "Error processing line: " + isolated("c@d,\"X\" y") +
                                       "\r\nDescription: Invalid argument\r\nNumber: 22"}));
  // The failing token keeps its number; the rest of its line is dropped.
  EXPECT_EQ(host.statusTexts, (Lines{"1 - " + isolated("\"Last\""), "2 - " + isolated("c@d"),
                                     "3 - " + isolated("\"X\" y"), "4 - " + isolated("e@f")}));
  EXPECT_EQ(output(), crLf({"DisplayName,EMail1", "Partner,c@d", "Partner,e@f"}));
}

TEST_F(ConversionRunTest, NoStopsTheRunAndKeepsWhatWasWritten) {
  host.unbuild = true;
  host.answers = {false};
  convert("a@b\r\nc@d,\"X\",e@f\r\ng@h");
  EXPECT_EQ(host.questions.size(), 1u);
  EXPECT_EQ(output(), crLf({"DisplayName,EMail1", "Partner,a@b", "Partner,c@d"}));
  EXPECT_EQ(host.statusTexts.back(), "3 - " + isolated("\"X\""));
}

TEST_F(ConversionRunTest, RunThatFailsEveryTokenWritesNoHeader) {
  host.unbuild = true;
  convert("\"A\"\r\n\"B\"");
  EXPECT_EQ(host.questions.size(), 2u);
  EXPECT_EQ(output(), "");
}

TEST_F(ConversionRunTest, UnclosedQuoteWarnsAndTheRunGoesOn) {
  convert("a,\"b\r\nc");
  EXPECT_EQ(host.warnings, Lines{"Tavrin: Error: Invalid argument: a quote stays open to the end of line 1, "
                                 "which begins " +
                                 isolated("a,\"b")});
  EXPECT_TRUE(host.questions.empty());
  EXPECT_EQ(host.statusTexts, Lines{"1 - " + isolated("c")});
  EXPECT_EQ(output(), crLf({"EMail1", "c"}));
}

TEST_F(ConversionRunTest, SecondRunStartsAfreshAndReplacesTheOutput) {
  convert("a,b");
  convert("c");
  EXPECT_EQ(host.statusTexts,
            (Lines{"1 - " + isolated("a"), "2 - " + isolated("b"), "1 - " + isolated("c")}));
  EXPECT_EQ(output(), crLf({"EMail1", "c"}));
}

TEST_F(ConversionRunTest, RunWithoutTokensLeavesAnEmptyOutputInPlaceOfTheOldOne) {
  dir.write("out.txt", "old content");
  convert(" , \r\n");
  EXPECT_TRUE(outputExists());
  EXPECT_EQ(output(), "");
}

#ifdef _WIN32
// Windows' own words for an error, as its error messages end, without the
// full stop.
std::string windowsWords(DWORD error) {
  wchar_t text[512] = {};
  FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text, 512,
                 nullptr);
  std::string words;
  for (const wchar_t* c = text; *c != 0; ++c) words += static_cast<char>(*c);  // ASCII in English
  words.erase(words.find_last_not_of(" .\r\n") + 1);
  return words;
}
#endif

TEST_F(ConversionRunTest, SetupFailuresEndTheRunWithTheRunReport) {
  const std::string input = dir.file("in.txt");
  const std::string output = dir.file("out.txt");
  struct Case {
    std::string inputName;
    std::string outputName;
    std::string action;  // what failed, on which file
    int number;
    bool oldOutputThere;     // out.txt is deleted before the input is opened
    std::string words = {};  // why, where the number's own words would mislead
  };
  const std::vector<Case> cases = {
      {dir.file("missing.txt"), output,
       "Cannot open the input file \"" + isolated(dir.file("missing.txt")) + '"', ENOENT, false},
      {"", output, "Cannot open the input file \"" + isolated("") + "\"", ENOENT, false},
      {dir.file("."), output, "Cannot open the input file \"" + isolated(dir.file(".")) + '"', EISDIR, false},
      {input, dir.file("none/out.txt"),
       "Cannot create the output file \"" + isolated(dir.file("none/out.txt")) + '"', ENOENT, true},
      {input, dir.file("."),
       "Cannot write the output file \"" + isolated(dir.file(".")) + "\", which is a folder", EISDIR, true},
      {input, "", "Cannot create the output file \"" + isolated("") + "\"", ENOENT, true},
#ifdef _WIN32  // names that Windows does not take, a device that is not there
      {dir.file("a?b.txt"), output, "Cannot open the input file \"" + isolated(dir.file("a?b.txt")) + '"',
       EINVAL, false, windowsWords(ERROR_INVALID_NAME)},
      {dir.file("a*b.txt"), output, "Cannot open the input file \"" + isolated(dir.file("a*b.txt")) + '"',
       EINVAL, false, windowsWords(ERROR_INVALID_NAME)},
      {input, dir.file("a|b.txt"), "Cannot create the output file \"" + isolated(dir.file("a|b.txt")) + '"',
       EINVAL, true, windowsWords(ERROR_INVALID_NAME)},
      {input, dir.file("a<b.txt"), "Cannot create the output file \"" + isolated(dir.file("a<b.txt")) + '"',
       EINVAL, true, windowsWords(ERROR_INVALID_NAME)},
      {input, dir.file("a>b.txt"), "Cannot create the output file \"" + isolated(dir.file("a>b.txt")) + '"',
       EINVAL, true, windowsWords(ERROR_INVALID_NAME)},
      {input, dir.file("a\"b.txt"), "Cannot create the output file \"" + isolated(dir.file("a\"b.txt")) + '"',
       EINVAL, true, windowsWords(ERROR_INVALID_NAME)},
      {"CON", output, "Cannot open the input file \"" + isolated("CON") + "\"", ENXIO, false},
#endif
  };
#ifdef _WIN32
  FreeConsole();  // CON leads nowhere
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.action);
    host = RecordingHost();
    dir.write("in.txt", "a,b");
    dir.write("out.txt", "old");
    host.inputFileName = c.inputName;
    host.outputFileName = c.outputName;
    ConversionRun(host);
    const std::string words = c.words.empty() ? std::strerror(c.number) : c.words;
    EXPECT_EQ(host.messages, Lines{c.action + ": " + words + "(" + std::to_string(c.number) + ")"});
    EXPECT_TRUE(host.statusTexts.empty());
    EXPECT_TRUE(host.questions.empty());
    EXPECT_EQ(readFile(input), "a,b");
    EXPECT_EQ(std::filesystem::exists(output), c.oldOutputThere);
  }
}

TEST_F(ConversionRunTest, OutputNamingTheInputLeavesBothUntouched) {
  const std::string input = dir.write("in.txt", "a,b");
  std::filesystem::create_directory(dir.file("sub"));
  std::filesystem::create_hard_link(input, dir.file("hard.txt"));
  std::vector<std::string> outputs = {input, dir.file("sub/../in.txt"), dir.file("./in.txt"),
                                      dir.file("hard.txt")};
#ifndef _WIN32  // links that only an administrator may make on Windows
  std::filesystem::create_symlink(input, dir.file("link.txt"));
  outputs.push_back(dir.file("link.txt"));
#endif
  for (const std::string& output : outputs) {
    SCOPED_TRACE(output);
    host = RecordingHost();
    host.inputFileName = input;
    host.outputFileName = output;
    ConversionRun(host);
    EXPECT_EQ(host.messages, Lines{"The output file \"" + isolated(output) + "\" is the input file \"" +
                                   isolated(input) + "\"; both are left as they are(22)"});
    EXPECT_EQ(readFile(input), "a,b");
    EXPECT_TRUE(std::filesystem::exists(output));
  }
}

#ifndef _WIN32
// A file system of its own, which fills up and frees space as a test says.
class SmallDisk {
 public:
  static constexpr std::size_t kSize = 8 << 20;
  SmallDisk() : m_mounted(::mount("tmpfs", m_dir.file("").c_str(), "tmpfs", 0, "size=8m") == 0) {}
  ~SmallDisk() {
    if (m_mounted) ::umount2(m_dir.file("").c_str(), MNT_DETACH);
  }
  bool isMounted() const { return m_mounted; }
  std::string file(std::string_view name) const { return m_dir.file(name); }
  // Leaves `free` bytes.
  void fill(std::size_t free) const { m_dir.write("filler", std::string(kSize - free, 'f')); }
  void makeRoom() const { std::filesystem::remove(file("filler")); }

 private:
  TempDir m_dir;
  bool m_mounted;
};

TEST(FullDisk, NothingTakenIsLostWhateverTheAnswers) {
  struct Case {
    std::string name;
    int lines;         // of one address each: 2,600 bytes of output per 100
    std::size_t free;  // on the disk at the start
    bool person;       // asked; else only a few tries are made
    std::vector<bool> answers;
    int makeRoomAt;  // before this answer, -1 never
    bool complete;   // the output holds all; else a gap-free start of it
    std::size_t questions;
    std::size_t messages;
  };
  const std::vector<Case> cases = {
      {"the last write fails, room is made, Yes", 4000, 8192, true, {true}, 0, true, 1, 0},
      {"Yes again and again", 4000, 8192, true, {true, true, true}, 2, true, 3, 0},
      {"the last write fails, No", 4000, 8192, true, {false}, -1, false, 1, 0},
      {"a write fails during the run, room is made, Yes", 100000, 512 << 10, true, {true}, 0, true, 1, 0},
      {"a write fails during the run, No", 100000, 512 << 10, true, {false}, -1, false, 1, 0},
      {"no one to ask: a few lines, then given up", 100000, 512 << 10, false, {}, -1, false, 7, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SmallDisk disk;
    if (!disk.isMounted())
      GTEST_SKIP() << "a small disk needs root, to mount a tmpfs: " << std::strerror(errno);
    TempDir dir;
    std::string input;
    std::string expected = "EMail1\r\n";
    for (int i = 0; i < c.lines; ++i) {
      const std::string address = "recipient" + std::to_string(1000000 + i) + "@example.org";
      input += address + "\n";
      expected += address + "\r\n";
    }
    RecordingHost host;
    host.inputFileName = dir.write("in.txt", input);
    host.outputFileName = disk.file("out.csv");
    host.person = c.person;
    host.answers = c.answers;
    host.beforeAnswer = [&](std::size_t question) {
      if (static_cast<int>(question) == c.makeRoomAt) disk.makeRoom();
    };
    disk.fill(c.free);
    ConversionRun(host);

    const std::string output = readFile(host.outputFileName);
    EXPECT_EQ(output.size() == expected.size(), c.complete) << output.size();
    EXPECT_TRUE(expected.starts_with(output));
    EXPECT_EQ(host.questions.size(), c.questions);
    for (const std::string& question : host.questions) {
      EXPECT_TRUE(question.ends_with("No space left on device\r\nNumber: 28")) << question;
    }
    EXPECT_EQ(host.messages.size(), c.messages);
    EXPECT_EQ(host.incompleteOutputs, c.complete || c.messages > 0 ? 0 : 1);
  }
}

#endif

TEST_F(ConversionRunTest, OutputKeepsTheInputsEncoding) {
  const std::string utf16 = std::string(
      "\xFF\xFE"
      "a\0,\0\xE9\0",
      8);
  convert(utf16);
  EXPECT_EQ(output(), std::string("\xFF\xFE"
                                  "E\0M\0a\0i\0l\0"
                                  "1\0\r\0\n\0a\0\r\0\n\0\xE9\0\r\0\n\0",
                                  30));
  EXPECT_EQ(host.statusTexts, (Lines{"1 - " + isolated("a"), "2 - " + isolated("\xC3\xA9")}));

  convert(
      "\xEF\xBB\xBF"
      "a");
  EXPECT_EQ(output(),
            "\xEF\xBB\xBF"
            "EMail1\r\na\r\n");
  convert("\xEF\xBB\xBF");
  EXPECT_EQ(output(), "");
  convert(std::string("\xFE\xFF", 2));
  EXPECT_EQ(output(), "");
}

#ifndef _WIN32
TEST(DeleteFile, RemovesOnlyRegularFilesAndLinksToThemOrToNothing) {
  TempDir dir;
  const std::string file = dir.write("file.txt", "x");
  const std::string target = dir.write("target.txt", "kept");
  std::filesystem::create_symlink(target, dir.file("link.txt"));
  std::filesystem::create_directory(dir.file("folder"));
  std::filesystem::create_symlink(dir.file("folder"), dir.file("folderlink"));
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/null", dir.file("devlink"));
  std::filesystem::create_symlink(dir.file("nowhere/made.txt"), dir.file("dangling"));
  // A link through /proc to one of the process's descriptors, as /dev/stdout is.
  const int descriptor = open(target.c_str(), O_RDONLY);
  ASSERT_GE(descriptor, 0);
  std::filesystem::create_symlink("/proc/self/fd/" + std::to_string(descriptor), dir.file("stdlink"));

  struct Case {
    std::string name;
    bool removed;
  };
  const std::vector<Case> cases = {
      {file, true},
      {dir.file("link.txt"), true},
      {dir.file("folder"), false},
      {dir.file("folderlink"), false},
      {dir.file("fifo"), false},
      {dir.file("devlink"), false},
      {dir.file("dangling"), true},
      {dir.file("stdlink"), false},
      {"/dev/null", false},
      {dir.file("missing"), false},
      {"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool existed = std::filesystem::exists(std::filesystem::symlink_status(c.name));
    DeleteFile(c.name);
    EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(c.name)), existed && !c.removed);
  }
  close(descriptor);
  EXPECT_EQ(readFile(target), "kept");  // removing a link leaves what it leads to
}

#endif

}  // namespace
}  // namespace tavrin
