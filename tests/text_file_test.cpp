#include "engine/text_file.hpp"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/failure.hpp"
#include "shown.hpp"
#include "temp_dir.hpp"

namespace tavrin {
namespace {

struct ReadResult {
  std::vector<std::string> lines;
  Encoding encoding;
};

ReadResult readLines(const std::string& content) {
  TempDir dir;
  TextReader reader;
  reader.open(dir.write("in.txt", content));
  reader.start();
  ReadResult result{{}, reader.getEncoding()};
  while (!reader.atEnd()) result.lines.emplace_back(reader.readLine());
  return result;
}

std::string utf16(std::u16string_view text, bool little) {
  std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
  for (const char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += little ? low : high;
    bytes += little ? high : low;
  }
  return bytes;
}

TEST(TextReader, EveryKindOfLineEndEndsALine) {
  struct Case {
    std::string content;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\nb\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\r\rb", {"a", "", "b"}},
      {"a\n\r\nb", {"a", "", "b"}},
      {"a\n\rb", {"a", "", "b"}},
      {"\r\n", {""}},
      {"\n\n", {"", ""}},
      {"\r", {""}},
      {std::string("a\0b\n\0", 5), {std::string("a\0b", 3), std::string(1, '\0')}},
      {"\xFF\xC3(\n", {"\xFF\xC3("}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.content));
    EXPECT_EQ(readLines(c.content).lines, c.lines);
  }
}

TEST(TextReader, ByteOrderMarkChoosesTheEncodingAndIsNoText) {
  struct Case {
    std::string content;
    Encoding encoding;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"\xEF\xBB\xBF"
       "a,b\r\nc",
       Encoding::Utf8WithBom,
       {"a,b", "c"}},
      {"\xEF\xBB\xBF", Encoding::Utf8WithBom, {}},
      {"\xEF\xBB", Encoding::Utf8, {"\xEF\xBB"}},
      {"x\xEF\xBB\xBF", Encoding::Utf8, {"x\xEF\xBB\xBF"}},
      {utf16(u"J\u00FCrgen\r\n\u674E\U0001F600", true),
       Encoding::Utf16LittleEndian,
       {"J\xC3\xBCrgen", "\xE6\x9D\x8E\xF0\x9F\x98\x80"}},
      {utf16(u"a\rb\nc", false), Encoding::Utf16BigEndian, {"a", "b", "c"}},
      {utf16(u"", true), Encoding::Utf16LittleEndian, {}},
      {utf16(u"x\xD800y", true), Encoding::Utf16LittleEndian, {"x\xED\xA0\x80y"}},  // lone surrogate kept
      {utf16(u"x\xDC00", false), Encoding::Utf16BigEndian, {"x\xED\xB0\x80"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.content));
    const ReadResult result = readLines(c.content);
    EXPECT_EQ(result.encoding, c.encoding);
    EXPECT_EQ(result.lines, c.lines);
  }
}

TEST(TextReader, OddByteAtTheEndOfUtf16IsReportedAfterTheTextBeforeIt) {
  TempDir dir;
  TextReader reader;
  reader.open(dir.write("in.txt", utf16(u"ab\ncd", true) + "e"));
  reader.start();
  ASSERT_FALSE(reader.atEnd());
  EXPECT_EQ(reader.readLine(), "ab");
  ASSERT_FALSE(reader.atEnd());
  EXPECT_EQ(reader.readLine(), "cd");
  try {
    reader.atEnd();
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), EILSEQ);
    EXPECT_NE(failure.description().find("in.txt"), std::string::npos);
  }
  EXPECT_TRUE(reader.atEnd());  // the failure is reported once; the input has ended
  EXPECT_EQ(reader.line(), "cd");
}

TEST(TextReader, LongLinesAcrossManyReadsStayWhole) {
  std::string longLine(5'000'000, 'x');
  longLine[2'500'000] = ',';
  const std::string content = "first\r" + longLine + "\r\nlast";
  const ReadResult result = readLines(content);
  ASSERT_EQ(result.lines.size(), 3u);
  EXPECT_EQ(result.lines[0], "first");
  EXPECT_EQ(result.lines[1], longLine);
  EXPECT_EQ(result.lines[2], "last");
}

// Lines of every length up to a few blocks, each kind of line end, and reads
// that end anywhere in a line or between a carriage return and its line feed.
TEST(TextReader, ManyLinesOfEveryLengthAcrossReads) {
  constexpr const char* kEnds[] = {"\r", "\n", "\r\n"};
  std::vector<std::string> lines;
  std::string content;
  for (int i = 0; content.size() < 3'500'000; ++i) {
    lines.push_back(std::to_string(i) + std::string(static_cast<std::size_t>(i % 197), 'a' + i % 26));
    content += lines.back() + kEnds[i % 3];
  }
  EXPECT_EQ(readLines(content).lines, lines);
}

TEST(TextReader, OpenFailuresNameTheFile) {
  TempDir dir;
  struct Case {
    std::string path;
    int number;
  };
  const std::vector<Case> cases = {{dir.file("missing.txt"), ENOENT}, {"", ENOENT}, {dir.file(""), EISDIR}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    TextReader reader;
    try {
      reader.open(c.path);
      reader.start();
      ADD_FAILURE() << "no failure";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.number(), c.number);
      EXPECT_EQ(failure.description(),
                "Cannot open the input file \"" + isolated(c.path) + "\": " + std::strerror(c.number));
    }
  }
}

TEST(TextWriter, WritesTheEncodingWithItsMarkBeforeTheFirstLineOnly) {
  struct Case {
    Encoding encoding;
    std::vector<std::string> lines;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {Encoding::Utf8, {"a", "\xC3\xA9"}, "a\r\n\xC3\xA9\r\n"},
      {Encoding::Utf8WithBom,
       {"a"},
       "\xEF\xBB\xBF"
       "a\r\n"},
      {Encoding::Utf8WithBom, {}, ""},
      {Encoding::Utf16LittleEndian,
       {"\xC3\xA9\xF0\x9F\x98\x80"},
       std::string("\xFF\xFE\xE9\x00\x3D\xD8\x00\xDE\r\0\n\0", 12)},
      {Encoding::Utf16BigEndian,
       {"a", "\xED\xA0\x80"},
       std::string("\xFE\xFF\0a\0\r\0\n\xD8\x00\0\r\0\n", 14)},
      {Encoding::Utf16BigEndian, {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    TempDir dir;
    TextWriter writer;
    writer.open(dir.file("out.txt"), {});
    writer.start(c.encoding);
    for (const std::string& line : c.lines) writer.writeLine(line);
    writer.close();
    EXPECT_EQ(readFile(dir.file("out.txt")), c.bytes);
  }
}

TEST(TextWriter, RoundTripKeepsEveryCharacterOfUtf16) {
  const std::string content = utf16(u"\"M\u00FCller, J\u00F6rg\" <j@m.de>\r\n\xD800\u0416", true);
  TempDir dir;
  TextReader reader;
  reader.open(dir.write("in.txt", content));
  reader.start();
  TextWriter writer;
  writer.open(dir.file("out.txt"), {});
  writer.start(reader.getEncoding());
  while (!reader.atEnd()) writer.writeLine(reader.readLine());
  writer.close();
  EXPECT_EQ(readFile(dir.file("out.txt")), content + std::string("\r\0\n\0", 4));
}

#ifndef _WIN32  // a device that is always full
TEST(TextWriter, FullDiskIsReportedWhenTheFileIsClosedAndKeepsTheLine) {
  TextWriter writer;
  writer.open("/dev/full", decideOutput("/dev/full"));
  writer.start(Encoding::Utf8);
  writer.writeLine("EMail1");
  try {
    writer.close();
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.number(), ENOSPC);
    EXPECT_EQ(failure.description(),
              "Cannot write the output file \"" + isolated("/dev/full") + "\": " + std::strerror(ENOSPC));
  }
  EXPECT_THROW(writer.close(), Failure);  // the line still waits: nothing is dropped
  writer.abandon();
  EXPECT_NO_THROW(writer.close());
}

#endif

TEST(TextWriter, CreateFailuresNameTheFile) {
  TempDir dir;
  const std::string taken = dir.file("taken.txt");
  const std::string pipe = dir.file("pipe");
  // What stands at the name between the old output's removal and the new
  // one's creation: somebody else's file, or another pipe than the one kept.
  const auto takeName = [&] { dir.write("taken.txt", "someone else's"); };
  struct Case {
    std::string path;
    int number;
    std::function<void()> meanwhile = [] {};
  };
  std::vector<Case> cases = {
      {dir.file("no/such/folder/out.txt"), ENOENT},
      {"", ENOENT},
      {dir.file(""), EISDIR},
      {taken, EEXIST, takeName},
  };
#ifndef _WIN32
  const auto replacePipe = [&] {
    ASSERT_EQ(mkfifo(dir.file("other pipe").c_str(), 0666), 0);
    std::filesystem::rename(dir.file("other pipe"), pipe);
  };
  ASSERT_EQ(mkfifo(pipe.c_str(), 0666), 0);
  cases.push_back({pipe, EEXIST, replacePipe});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const OutputDecision decision = decideOutput(c.path);
    c.meanwhile();
    TextWriter writer;
    try {
      writer.open(c.path, decision);
      writer.start(Encoding::Utf8);
      ADD_FAILURE() << "no failure";
    } catch (const Failure& failure) {
      EXPECT_EQ(failure.number(), c.number);
      EXPECT_EQ(failure.description(),
                "Cannot create the output file \"" + isolated(c.path) + "\": " + std::strerror(c.number));
    }
  }
  EXPECT_EQ(readFile(taken), "someone else's");
}

}  // namespace
}  // namespace tavrin
