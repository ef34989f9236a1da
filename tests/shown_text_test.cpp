#include "engine/shown_text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/text.hpp"
#include "shown.hpp"

namespace tavrin {
namespace {

std::string repeated(std::string_view text, std::size_t times) {
  std::string all;
  for (std::size_t i = 0; i < times; ++i) all += text;
  return all;
}

TEST(ShownText, EscapesWhatIsNotDrawnAsItselfBetweenIsolates) {
  struct Case {
    std::string text;
    std::string shown;  // between the isolates
    TextForm form = TextForm::Utf8;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"Jane <j@x.org>", "Jane <j@x.org>"},
      {"C:\\t\\list", "C:\\t\\list"},  // a backslash is itself
      // C0, DEL, C1 with NEL
      {std::string("a\0b", 3), "a\\x00b"},
      {"\t\r\n\x1b[2J\x7f", "\\x09\\x0d\\x0a\\x1b[2J\\x7f"},
      {"\xC2\x85\xC2\x9F", "\\u0085\\u009f"},
      // line and paragraph separators
      {"Jane\xE2\x80\xA8\xE2\x80\xA9"
       "end",
       "Jane\\u2028\\u2029end"},
      // bidi embeddings, overrides, isolates and marks
      {"list\xE2\x80\xAEvsc.exe", "list\\u202evsc.exe"},
      {"\xE2\x80\xAA\xE2\x80\xAB\xE2\x80\xAC\xE2\x80\xAD", "\\u202a\\u202b\\u202c\\u202d"},
      {"\xE2\x81\xA6\xE2\x81\xA7\xE2\x81\xA8\xE2\x81\xA9", "\\u2066\\u2067\\u2068\\u2069"},
      {"\xE2\x80\x8E\xE2\x80\x8F\xD8\x9C", "\\u200e\\u200f\\u061c"},
      // zero-width characters, a soft hyphen, a tag
      {"a\xE2\x80\x8B\xE2\x80\x8C\xE2\x80\x8D\xE2\x81\xA0\xEF\xBB\xBF",
       "a\\u200b\\u200c\\u200d\\u2060\\ufeff"},
      {"\xC2\xAD\xF3\xA0\x80\x81", "\\u00ad\\U000e0001"},
      // drawn as themselves: letters of any direction, spaces, symbols
      {"\xC3\xA9\xE4\xB8\xAD\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D\xF0\x9F\x98\x80",
       "\xC3\xA9\xE4\xB8\xAD\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D\xF0\x9F\x98\x80"},
      {"a\xC2\xA0\xE2\x80\x8A\xE3\x80\x80z", "a\xC2\xA0\xE2\x80\x8A\xE3\x80\x80z"},
      // no UTF-8 character: a byte at a time
      {"out\xFF.csv", "out\\xff.csv"},
      {"\xED\xA0\x80", "\\xed\\xa0\\x80"},
      {"\xED\xA0\x80", "\\ud800", TextForm::FromUtf16},  // a lone surrogate of a UTF-16 file
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(shown(c.text));
    EXPECT_EQ(shownText(c.text, c.form), isolated(c.shown));
  }
}

TEST(ShownText, ALongTextShowsItsStartAndEnd) {
  struct Case {
    std::string text;
    std::string shown;  // between the isolates
  };
  const std::string separators = repeated("\xE2\x80\xA8", 700);  // 4200 bytes shown
  const std::vector<Case> cases = {
      {std::string(4000, 'x'), std::string(4000, 'x')},
      {std::string(4001, 'x'), std::string(2500, 'x') + " [\xE2\x80\xA6] " + std::string(1000, 'x')},
      {repeated("\xE2\x82\xAC", 2000),
       repeated("\xE2\x82\xAC", 833) + " [\xE2\x80\xA6] " + repeated("\xE2\x82\xAC", 333)},
      // cut where it is shown long, by whole escapes
      {separators, repeated("\\u2028", 416) + " [\xE2\x80\xA6] " + repeated("\\u2028", 166)},
      {std::string(100'000'000, ',') + "end",
       std::string(2500, ',') + " [\xE2\x80\xA6] " + std::string(997, ',') + "end"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.size());
    EXPECT_EQ(shownText(c.text, TextForm::Utf8), isolated(c.shown));
  }
}

TEST(ShownText, AWordOfTheCommandLineIsEscapedOnly) {
  EXPECT_EQ(escapedText("--\x1b[2J"), "--\\x1b[2J");
  EXPECT_EQ(escapedText("\xE2\x80\xAE-x\xC3"), "\\u202e-x\\xc3");
}

}  // namespace
}  // namespace tavrin
