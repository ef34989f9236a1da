#include "engine/tokenizer.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recording_host.hpp"

namespace tavrin {
namespace {

struct Tokenized {
  std::int32_t result;
  std::vector<std::string> tokens;  // what the list holds, also after a failure
  std::vector<std::string> warnings;
};

Tokenized tokenize(std::string_view line, std::string_view separator, std::string_view quotes = "\"") {
  RecordingHost host;
  TokenList list;
  Tokenized out{GetTokens(line, separator, list, quotes, host, TextForm::Utf8), {}, host.warnings};
  list.forEach([&](std::string_view token) { out.tokens.emplace_back(token); });
  return out;
}

const std::string kWarning = "Tavrin: Error: Invalid argument";

struct Case {
  std::string line;
  std::string separator;
  std::int32_t result;
  std::vector<std::string> tokens;
  bool warned = false;
};

void check(const std::vector<Case>& cases, std::string_view quotes = "\"") {
  for (const Case& c : cases) {
    SCOPED_TRACE("line [" + c.line + "] separator [" + c.separator + "]");
    const Tokenized t = tokenize(c.line, c.separator, quotes);
    EXPECT_EQ(t.result, c.result);
    EXPECT_EQ(t.tokens, c.tokens);
    EXPECT_EQ(t.warnings, c.warned ? std::vector<std::string>{kWarning} : std::vector<std::string>{});
  }
}

TEST(GetTokens, SplitsAtSeparatorsOutsideQuotes) {
  check({
      {"a,\"b,c\",,d", ",", 4, {"a", "\"b,c\"", "", "d"}},
      {"a,b,c", ",", 3, {"a", "b", "c"}},
      {"a,b,", ",", 2, {"a", "b"}},
      {"a,b,,", ",", 3, {"a", "b", ""}},
      {",a", ",", 2, {"", "a"}},
      {",", ",", 1, {""}},
      {",,", ",", 2, {"", ""}},
      {"", ",", 0, {}},
      {"a", ",", 1, {"a"}},
      {"a;b", ",", 1, {"a;b"}},
      {"\"x,y\",z", ",", 2, {"\"x,y\"", "z"}},
      {"\"a,b\",", ",", 1, {"\"a,b\""}},
      {"ab\"c,d\"e,f", ",", 2, {"ab\"c,d\"e", "f"}},
      {"\"say \"\"hi\"\", ok\",x", ",", 2, {"\"say \"\"hi\"\", ok\"", "x"}},
      {" a , b ", ",", 2, {" a ", " b "}},
      {"aXbxc", "x", 2, {"aXb", "c"}},
      {"a\tb", "\t", 2, {"a", "b"}},
      {"\"Last, First\" <l@x.org>;b@y.org", ";", 2, {"\"Last, First\" <l@x.org>", "b@y.org"}},
  });
}

TEST(GetTokens, UnclosedQuoteWarnsAndKeepsTheTokensBefore) {
  check({
      {"a,\"b", ",", 0, {"a"}, true},
      {"a\"", ",", 0, {}, true},
      {"\"", ",", 0, {}, true},
      {"x,y,\"z,w", ",", 0, {"x", "y"}, true},
      {"\"a,b\",\"c", ",", 0, {"\"a,b\""}, true},
  });
}

TEST(GetTokens, SeparatorOfSeveralCharactersIsOneUnit) {
  check({
      {"a::b", "::", 2, {"a", "b"}},
      {"a::b::", "::", 2, {"a", "b"}},
      {"a::b::::", "::", 3, {"a", "b", ""}},
      {"::a", "::", 2, {"", "a"}},
      {"a:b", "::", 1, {"a:b"}},
      {":", "::", 1, {":"}},
      {"a:::b", "::", 2, {"a", ":b"}},
      {"", "::", 0, {}},
      {"\"a::b\"::c", "::", 2, {"\"a::b\"", "c"}},
      {"a, b,c", ", ", 2, {"a", "b,c"}},
      {"x\xC3\xA9y\xC3\xA9z", "\xC3\xA9", 3, {"x", "y", "z"}},
  });
}

TEST(GetTokens, BlankQuoteTextSwitchesBalancingOff) {
  for (const std::string& quotes : {std::string(), std::string(" "), std::string(1, '\0')}) {
    SCOPED_TRACE(testing::PrintToString(quotes));
    check({{"a,\"b,c\",d", ",", 4, {"a", "\"b", "c\"", "d"}}, {"a\"", ",", 1, {"a\""}}}, quotes);
  }
}

TEST(GetTokens, NonAsciiTextAndStrayBytesStayWhole) {
  check({
      {"J\xC3\xBCrgen <j@x.de>,\xE6\x9D\x8E <l@x.cn>",
       ",",
       2,
       {"J\xC3\xBCrgen <j@x.de>", "\xE6\x9D\x8E <l@x.cn>"}},
      {std::string("a\0,\xFF", 4), ",", 2, {std::string("a\0", 2), "\xFF"}},
  });
}

TEST(GetTokens, EmptiesTheListOfAnEarlierLine) {
  RecordingHost host;
  TokenList list;
  ASSERT_EQ(GetTokens("a,b,c", ",", list, "\"", host, TextForm::Utf8), 3);
  EXPECT_EQ(GetTokens("", ",", list, "\"", host, TextForm::Utf8), 0);
  EXPECT_EQ(list.size(), 0u);
}

TEST(GetTokens, OpenQuoteOverAMillionSeparatorsEnds) {
  // Each extension counts only its new part; recounting from the start would
  // not finish here.
  std::string line = "\"";
  for (int i = 0; i < 1'000'000; ++i) line += "abcdefgh,";
  const Tokenized t = tokenize(line, ",");
  EXPECT_EQ(t.result, 0);
  EXPECT_TRUE(t.tokens.empty());
  EXPECT_EQ(t.warnings.size(), 1u);
}

TEST(CharCount, CountsOverlappingOccurrencesCaseSensitively) {
  struct Case {
    std::string in;
    std::string search;
    std::int32_t count;
    TextForm form = TextForm::Utf8;
  };
  const std::vector<Case> cases = {
      {"\"a\"\"b\"", "\"", 4},
      {"aaa", "aa", 2},
      {"", "\"", 0},
      {"Abc", "a", 0},
      {"abc", "", 0},
      {"\xC3\xA9\xC3\xA9", "\xC3\xA9", 2},
      {"\xC3\xA9", "\xA9", 0},
      {"\xED\xA0\x80\xED\xA0\x80", "\xA0", 2},  // the stray bytes of surrogates in UTF-8
      {"\xED\xA0\x80\xED\xA0\x80", "\xA0", 0, TextForm::FromUtf16},
      {"\xED\xA0\x80\xED\xA0\x80", "\xED\xA0\x80", 2, TextForm::FromUtf16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in + " / " + c.search);
    EXPECT_EQ(CharCount(c.in, c.search, c.form), c.count);
  }
}

}  // namespace
}  // namespace tavrin
