#include "engine/text.hpp"

#include <cstring>

namespace tavrin {

namespace {

bool isContinuation(unsigned char byte) {
  return (byte & 0xC0) == 0x80;
}

}  // namespace

Character decodeCharacter(std::string_view text, std::size_t offset) {
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
    if (lead == 0xE0) low = 0xA0;  // no overlong forms; surrogates after 0xED are kept
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

bool isCharacterBoundary(std::string_view text, std::size_t offset) {
  if (offset == 0 || offset >= text.size()) return offset <= text.size();
  if (!isContinuation(static_cast<unsigned char>(text[offset]))) return true;
  // A continuation byte is inside a character only when a well-formed sequence
  // that begins up to three bytes earlier covers it; a lead byte is never part
  // of an earlier character, so that sequence is a character of its own.
  for (std::size_t back = 1; back <= 3 && back <= offset; ++back) {
    const unsigned char byte = static_cast<unsigned char>(text[offset - back]);
    if (isContinuation(byte)) continue;
    const Character c = characterAt(text, offset - back);
    return !(c.wellFormed && c.size > back);
  }
  return true;
}

std::size_t findLastCharacterStart(std::string_view text) {
  std::size_t start = text.empty() ? 0 : text.size() - 1;
  while (start > 0 && !isCharacterBoundary(text, start)) --start;
  return start;
}

bool isWellFormed(std::string_view text) {
  for (std::size_t offset = 0; offset < text.size();) {
    const Character c = characterAt(text, offset);
    if (!c.wellFormed) return false;
    offset += c.size;
  }
  return true;
}

TextFinder::TextFinder(std::string_view pattern) : m_pattern(pattern), m_wellFormed(isWellFormed(pattern)) {}

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
        (isCharacterBoundary(text, found) && isCharacterBoundary(text, found + m_pattern.size()))) {
      return found;
    }
    from = found + 1;
  }
  return kNotFound;
}

char32_t toLowerBeyondAscii(char32_t c) {
  auto evenUpper = [c](char32_t first, char32_t last) { return c >= first && c <= last && c % 2 == 0; };
  auto oddUpper = [c](char32_t first, char32_t last) { return c >= first && c <= last && c % 2 == 1; };

  // Latin-1 Supplement
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;
  // Latin Extended-A
  if (c == 0x130) return 'i';
  if (c == 0x178) return 0xFF;
  if (evenUpper(0x100, 0x12F) || evenUpper(0x132, 0x137) || evenUpper(0x14A, 0x177)) return c + 1;
  if (oddUpper(0x139, 0x148) || oddUpper(0x179, 0x17E)) return c + 1;
  // Greek
  switch (c) {
    case 0x37F:
      return 0x3F3;
    case 0x386:
      return 0x3AC;
    case 0x38C:
      return 0x3CC;
    case 0x38E:
      return 0x3CD;
    case 0x38F:
      return 0x3CE;
    case 0x3CF:
      return 0x3D7;
    case 0x3F4:
      return 0x3B8;
    case 0x3F7:
      return 0x3F8;
    case 0x3F9:
      return 0x3F2;
    case 0x3FA:
      return 0x3FB;
    default:
      break;
  }
  if (evenUpper(0x370, 0x373) || c == 0x376 || evenUpper(0x3D8, 0x3EF)) return c + 1;
  if (c >= 0x388 && c <= 0x38A) return c + 37;
  if ((c >= 0x391 && c <= 0x3A1) || (c >= 0x3A3 && c <= 0x3AB)) return c + 32;
  if (c >= 0x3FD && c <= 0x3FF) return c - 130;
  // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  if (c >= 0x410 && c <= 0x42F) return c + 32;
  if (evenUpper(0x460, 0x481) || evenUpper(0x48A, 0x4BF) || evenUpper(0x4D0, 0x4FF)) return c + 1;
  if (c == 0x4C0) return 0x4CF;
  if (oddUpper(0x4C1, 0x4CE)) return c + 1;
  return c;
}

namespace {

char asciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (static_cast<unsigned char>(a[i] | b[j]) < 0x80) {  // two ASCII characters
      if (asciiLower(a[i++]) != asciiLower(b[j++])) return false;
      continue;
    }
    const Character x = characterAt(a, i);
    const Character y = characterAt(b, j);
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
