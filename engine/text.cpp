#include "engine/text.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "lower_case_table.hpp"

namespace tavrin {

namespace {

bool isContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

}  // namespace

Character decodeCharacter(std::string_view text, std::size_t offset, TextForm form) {
  if (offset >= text.size()) return {0, 0, false};
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data()) + offset;
  const std::size_t left = text.size() - offset;
  const unsigned char lead = bytes[0];
  const Character stray{lead, 1, false};
  if (lead < 0x80) return {lead, 1, true};

  std::size_t size = 0;
  char32_t code = 0;
  unsigned char low = 0x80;  // the allowed range of the second byte
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    size = 2;
    code = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    size = 3;
    code = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;                             // no overlong forms
    if (lead == 0xED && form == TextForm::Utf8) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    size = 4;
    code = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return stray;
  }
  if (left < size || bytes[1] < low || bytes[1] > high) return stray;
  for (std::size_t i = 1; i < size; ++i) {
    if (!isContinuation(bytes[i])) return stray;
    code = (code << 6) | (bytes[i] & 0x3F);
  }
  return {code, size, true};
}

bool isCharacterBoundary(std::string_view text, std::size_t offset, TextForm form) {
  if (offset == 0 || offset >= text.size()) return offset <= text.size();
  if (!isContinuation(static_cast<unsigned char>(text[offset]))) return true;
  // A continuation byte is inside a character only when a well-formed sequence
  // that begins up to three bytes earlier covers it; a lead byte is never part
  // of an earlier character, so that sequence is a character of its own.
  for (std::size_t back = 1; back <= 3 && back <= offset; ++back) {
    const unsigned char byte = static_cast<unsigned char>(text[offset - back]);
    if (isContinuation(byte)) continue;
    const Character c = characterAt(text, offset - back, form);
    return !(c.wellFormed && c.size > back);
  }
  return true;
}

std::size_t findLastCharacterStart(std::string_view text, TextForm form) {
  std::size_t start = text.empty() ? 0 : text.size() - 1;
  while (start > 0 && !isCharacterBoundary(text, start, form)) --start;
  return start;
}

bool isWellFormed(std::string_view text, TextForm form) {
  for (std::size_t offset = 0; offset < text.size();) {
    const Character c = characterAt(text, offset, form);
    if (!c.wellFormed) return false;
    offset += c.size;
  }
  return true;
}

std::string_view headOf(std::string_view text, std::size_t size, TextForm form) {
  if (size >= text.size()) return text;
  while (!isCharacterBoundary(text, size, form)) --size;
  return text.substr(0, size);
}

TextFinder::TextFinder(std::string_view pattern, TextForm form)
    : m_pattern(pattern), m_form(form), m_wellFormed(isWellFormed(pattern, form)) {}

std::size_t TextFinder::findIn(std::string_view text, std::size_t from) const {
  if (m_pattern.empty()) return kNotFound;
  while (from < text.size()) {
    std::size_t found;
    if (m_pattern.size() == 1) {
      const void* hit = std::memchr(text.data() + from, m_pattern[0], text.size() - from);
      found = hit ? static_cast<const char*>(hit) - text.data() : kNotFound;
    } else {
      found = text.find(m_pattern, from);
    }
    // A well-formed pattern can only match whole characters; one with stray
    // bytes could match inside a character, which is no match.
    if (found == kNotFound || m_wellFormed ||
        (isCharacterBoundary(text, found, m_form) &&
         isCharacterBoundary(text, found + m_pattern.size(), m_form))) {
      return found;
    }
    from = found + 1;
  }
  return kNotFound;
}

namespace {

char asciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

}  // namespace

char32_t toLowerBeyondAscii(char32_t code) {
  // The last run that begins at or before the code, if any, is the only one
  // that can hold it.
  const auto* const after =
      std::upper_bound(std::begin(kLowerCaseRuns), std::end(kLowerCaseRuns), code,
                       [](char32_t c, const LowerCaseRun& run) { return c < run.first; });
  if (after == std::begin(kLowerCaseRuns)) return code;
  const LowerCaseRun& run = after[-1];
  const char32_t offset = code - run.first;
  if (offset >= run.count || (run.everyOther && offset % 2 != 0)) return code;
  return static_cast<char32_t>(static_cast<std::int32_t>(code) + run.delta);
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (static_cast<unsigned char>(a[i] | b[j]) < 0x80) {  // two ASCII characters
      if (asciiLower(a[i++]) != asciiLower(b[j++])) return false;
      continue;
    }
    const Character x = characterAt(a, i, TextForm::Utf8);
    const Character y = characterAt(b, j, TextForm::Utf8);
    // A stray byte is no letter: it equals only the same byte.
    const char32_t lowerX = x.wellFormed ? toLower(x.code) : x.code;
    const char32_t lowerY = y.wellFormed ? toLower(y.code) : y.code;
    if (x.wellFormed != y.wellFormed || lowerX != lowerY) return false;
    i += x.size;
    j += y.size;
  }
  return i == a.size() && j == b.size();
}

}  // namespace tavrin
