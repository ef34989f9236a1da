#pragma once

#include <cstddef>
#include <string_view>

namespace tavrin {

// Texts are UTF-8 inside the program and positions count characters. A byte
// that does not begin a well-formed sequence is a character of its own, so any
// byte string is a text and passes through unchanged.

inline constexpr std::size_t kNotFound = std::string_view::npos;

// Longest input line the program accepts, in bytes of UTF-8: it keeps a run's
// memory bounded on endless input such as /dev/zero.
inline constexpr std::size_t kLongestLine = std::size_t{256} << 20;

// How the bytes of a text make characters. UTF-8 has no surrogates, so the
// three bytes of a surrogate code point (ED A0 80 to ED BF BF) are three stray
// bytes; but the reader writes the lone surrogates of a UTF-16 file so, and in
// the text of such a file each is one character, kept whole to go back into
// UTF-16. A run takes the form of its input and hands it to what reads text.
enum class TextForm { Utf8, FromUtf16 };

struct Character {
  char32_t code;     // the code point; for a stray byte, the byte's value
  std::size_t size;  // its bytes in the text, at least 1 (0 at the end)
  bool wellFormed;   // false for a stray byte
};

Character decodeCharacter(std::string_view text, std::size_t offset, TextForm form);
// The character that begins at `offset`, which must be a character boundary.
inline Character characterAt(std::string_view text, std::size_t offset, TextForm form) {
  if (offset < text.size() && static_cast<unsigned char>(text[offset]) < 0x80) {
    return {static_cast<unsigned char>(text[offset]), 1, true};
  }
  return decodeCharacter(text, offset, form);
}
bool isCharacterBoundary(std::string_view text, std::size_t offset, TextForm form);
std::size_t findLastCharacterStart(std::string_view text, TextForm form);
// Start of the last character; 0 for the empty text.
inline std::size_t lastCharacterStart(std::string_view text, TextForm form) {
  if (!text.empty() && static_cast<unsigned char>(text.back()) < 0x80) return text.size() - 1;
  return findLastCharacterStart(text, form);
}
bool isWellFormed(std::string_view text, TextForm form);

// The first `size` bytes of `text`, fewer so as not to split a character.
std::string_view headOf(std::string_view text, std::size_t size, TextForm form);

// Leading and trailing spaces go; tabs, NUL and everything else stays.
inline std::string_view trim(std::string_view text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && text[first] == ' ') ++first;
  while (last > first && text[last - 1] == ' ') --last;
  return {text.data() + first, last - first};
}

// Finds `pattern` in texts, character by character: a match never begins or
// ends inside a character. An empty pattern is never found.
class TextFinder {
 public:
  TextFinder(std::string_view pattern, TextForm form);
  // Offset of the first match at or after `from`, or kNotFound.
  std::size_t findIn(std::string_view text, std::size_t from) const;
  std::size_t size() const { return m_pattern.size(); }

 private:
  std::string_view m_pattern;
  TextForm m_form;
  bool m_wellFormed;
};

char32_t toLowerBeyondAscii(char32_t code);
// The Unicode simple lower-case mapping, from the UnicodeData.txt of the
// Unicode Character Database that Debian ships (package unicode-data), built
// into the program: the same on every system and never the process's locale,
// so the user's settings change nothing. A code without one is itself.
inline char32_t toLower(char32_t code) {
  if (code < 0x80) return code >= 'A' && code <= 'Z' ? code + 32 : code;
  return toLowerBeyondAscii(code);
}
// Whether two texts are equal once both are lower-cased, character by
// character. The same in either form: a lone surrogate of a UTF-16 file's
// text, like its three stray bytes in UTF-8, equals only itself.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace tavrin
