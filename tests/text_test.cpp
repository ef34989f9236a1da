#include "engine/text.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrin {
namespace {

// The characters of a text as the program counts them.
std::vector<std::string> characters(std::string_view text, TextForm form) {
  std::vector<std::string> characters;
  for (std::size_t offset = 0; offset < text.size();) {
    const Character c = characterAt(text, offset, form);
    characters.emplace_back(text.substr(offset, c.size));
    offset += c.size;
  }
  return characters;
}

TEST(Text, CharactersAreWholeSequencesOrSingleStrayBytes) {
  struct Case {
    std::string text;
    std::vector<std::string> characters;
    TextForm form = TextForm::Utf8;
  };
  const std::vector<Case> cases = {
      {"ab", {"a", "b"}},
      {"\xC3\xA9x", {"\xC3\xA9", "x"}},                        // é
      {"\xE2\x82\xAC", {"\xE2\x82\xAC"}},                      // €
      {"\xF0\x9F\x98\x80!", {"\xF0\x9F\x98\x80", "!"}},        // emoji
      {"\xC3", {"\xC3"}},                                      // truncated
      {"\xC3(", {"\xC3", "("}},                                // lead byte without continuation
      {"\xA9\xA9", {"\xA9", "\xA9"}},                          // stray continuations
      {"\xC0\xAF", {"\xC0", "\xAF"}},                          // overlong
      {"\xE0\x80\xAF", {"\xE0", "\x80", "\xAF"}},              // overlong
      {"\xF4\x90\x80\x80", {"\xF4", "\x90", "\x80", "\x80"}},  // beyond U+10FFFF
      {"\xED\xA0\x80", {"\xED", "\xA0", "\x80"}},              // a surrogate has no UTF-8
      {"\xED\x9F\xBF", {"\xED\x9F\xBF"}},                      // U+D7FF, just below
      {"\xFF\xFE", {"\xFF", "\xFE"}},
      {std::string("a\0b", 3), {"a", std::string(1, '\0'), "b"}},
      // The lone surrogates of a UTF-16 file are characters of its text.
      {"\xED\xA0\x80\xED\xBF\xBF", {"\xED\xA0\x80", "\xED\xBF\xBF"}, TextForm::FromUtf16},
      {"\xC3\xA9\xED\x9F\xBF", {"\xC3\xA9", "\xED\x9F\xBF"}, TextForm::FromUtf16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(characters(c.text, c.form), c.characters);
    std::size_t offset = 0;
    for (const std::string& character : c.characters) {
      EXPECT_TRUE(isCharacterBoundary(c.text, offset, c.form));
      for (std::size_t inside = 1; inside < character.size(); ++inside) {
        EXPECT_FALSE(isCharacterBoundary(c.text, offset + inside, c.form));
      }
      offset += character.size();
    }
    EXPECT_EQ(lastCharacterStart(c.text, c.form), c.text.size() - c.characters.back().size());
  }
}

TEST(Text, TrimRemovesSpacesOnly) {
  struct Case {
    std::string text;
    std::string trimmed;
  };
  const std::vector<Case> cases = {
      {"", ""},
      {"   ", ""},
      {" a b ", "a b"},
      {"\ta\t", "\ta\t"},
      {std::string(" \0 ", 3), std::string(1, '\0')},
      {"\xC2\xA0x\xC2\xA0", "\xC2\xA0x\xC2\xA0"},  // no-break spaces stay
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(trim(c.text), c.trimmed);
  }
}

TEST(Text, FinderMatchesWholeCharactersOnly) {
  struct Case {
    std::string pattern;
    std::string text;
    std::size_t from;
    std::size_t found;
    TextForm form = TextForm::Utf8;
  };
  const std::vector<Case> cases = {
      {",", "a,b,c", 0, 1},
      {",", "a,b,c", 2, 3},
      {",", "a,b,c", 4, kNotFound},
      {",", "a,b", 9, kNotFound},  // a start beyond the end finds nothing
      {"::", "a:::b", 0, 1},
      {"::", "a:::b", 2, 2},
      {"::", "a:::b", 3, kNotFound},
      {"x", "aXbxc", 0, 3},                // case matters
      {"\xA9", "\xC3\xA9", 0, kNotFound},  // a stray byte never matches inside é
      {"\xA9", "\xC3\xA9\xA9", 0, 2},      // but matches a stray byte of its own
      {"\xC3", "\xC3\xA9\xC3!", 0, 2},     // a lone lead byte is not the start of é
      {"\xC3\xA9", "x\xC3\xA9", 0, 1},
      {"", "abc", 0, kNotFound},
      {"\xA0\x80", "\xED\xA0\x80", 0, 1},                               // three stray bytes in UTF-8
      {"\xA0\x80", "\xED\xA0\x80", 0, kNotFound, TextForm::FromUtf16},  // one character of a UTF-16 file
      {"\xED", "\xED\xA0\x80", 0, kNotFound, TextForm::FromUtf16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern + " in " + c.text);
    EXPECT_EQ(TextFinder(c.pattern, c.form).findIn(c.text, c.from), c.found);
  }
}

TEST(Text, LowerCaseCoversTheLettersOfEveryScript) {
  struct Case {
    char32_t upper;
    char32_t lower;
  };
  const std::vector<Case> cases = {
      {U'A', U'a'},
      {U'Z', U'z'},
      {U'a', U'a'},
      {U'@', U'@'},
      {U'\u00C0', U'\u00E0'},
      {U'\u00D7', U'\u00D7'},  // multiplication sign
      {U'\u0100', U'\u0101'},
      {U'\u0130', U'i'},
      {U'\u0131', U'\u0131'},
      {U'\u0218', U'\u0219'},  // Latin Extended-B
      {U'\u03A3', U'\u03C3'},
      {U'\u03A2', U'\u03A2'},  // unassigned
      {U'\u042F', U'\u044F'},
      {U'\u0531', U'\u0561'},          // Armenian
      {U'\u10A0', U'\u2D00'},          // Georgian
      {U'\u1E00', U'\u1E01'},          // Latin Extended Additional
      {U'\u1F08', U'\u1F00'},          // Greek Extended
      {U'\u2126', U'\u03C9'},          // ohm sign
      {U'\uFF21', U'\uFF41'},          // full-width
      {U'\U00010400', U'\U00010428'},  // Deseret, beyond 16 bits
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<unsigned>(c.upper));
    EXPECT_EQ(toLower(c.upper), c.lower);
  }
}

TEST(Text, CaseInsensitiveComparisons) {
  EXPECT_TRUE(equalsIgnoringCase("Ann@X.org", "ann@x.ORG"));
  EXPECT_TRUE(equalsIgnoringCase("\xC3\x89MILE", "\xC3\xA9mile"));  // ÉMILE
  EXPECT_FALSE(equalsIgnoringCase("ann", "anna"));
  EXPECT_FALSE(equalsIgnoringCase("\xC3\x89", "e"));
  EXPECT_FALSE(equalsIgnoringCase("\xC9", "\xE9"));  // stray bytes are no letters
  EXPECT_TRUE(equalsIgnoringCase("\xC9", "\xC9"));
}

}  // namespace
}  // namespace tavrin
