#include "engine/shown_text.hpp"

#include <algorithm>
#include <iterator>

#include "engine/text.hpp"
#include "escaped_table.hpp"

namespace tavrin {

namespace {

constexpr std::string_view kIsolateStart = "\u2068";
constexpr std::string_view kIsolateEnd = "\u2069";
constexpr std::string_view kCutMark = " [\u2026] ";
constexpr std::size_t kLongest = 4000;
constexpr std::size_t kHeadSize = 2500;
constexpr std::size_t kTailSize = 1000;

bool isEscaped(const Character& c) {
  if (!c.wellFormed) return true;
  if (c.code >= 0xD800 && c.code <= 0xDFFF) return true;  // a lone surrogate
  const auto* const after =
      std::upper_bound(std::begin(kEscapedRuns), std::end(kEscapedRuns), c.code,
                       [](char32_t code, const EscapedRun& run) { return code < run.first; });
  return after != std::begin(kEscapedRuns) && c.code <= after[-1].last;
}

// The bytes of a character's escape: \xNN, \uNNNN or \UNNNNNNNN.
std::size_t escapeSize(const Character& c) {
  if (!c.wellFormed || c.code < 0x80) return 4;
  return c.code <= 0xFFFF ? 6 : 10;
}

std::size_t shownSize(const Character& c) {
  return isEscaped(c) ? escapeSize(c) : c.size;
}

// Appends the character at `offset` of `text` as it is shown.
void appendShown(std::string& shown, std::string_view text, std::size_t offset, const Character& c) {
  if (!isEscaped(c)) {
    shown.append(text, offset, c.size);
    return;
  }
  const std::size_t digits = escapeSize(c) - 2;
  shown += '\\';
  shown += digits == 2 ? 'x' : digits == 4 ? 'u' : 'U';
  const char32_t code = c.wellFormed ? c.code : static_cast<unsigned char>(text[offset]);
  constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t digit = digits; digit-- > 0;) shown += kDigits[(code >> (4 * digit)) & 0xF];
}

// Where the shown form of text[..end) that is at most `most` bytes long
// begins: whole characters, counted back from `end`.
std::size_t tailStart(std::string_view text, std::size_t end, std::size_t most, TextForm form) {
  std::size_t size = 0;
  while (end > 0) {
    const std::size_t start = lastCharacterStart(text.substr(0, end), form);
    size += shownSize(characterAt(text, start, form));
    if (size > most) break;
    end = start;
  }
  return end;
}

}  // namespace

std::string shownText(std::string_view text, TextForm form) {
  std::string shown(kIsolateStart);
  std::size_t offset = 0;
  std::size_t headEnd = kIsolateStart.size();  // where the characters that make the head end
  while (offset < text.size()) {
    const Character c = characterAt(text, offset, form);
    if (shown.size() - kIsolateStart.size() + shownSize(c) > kLongest) break;
    appendShown(shown, text, offset, c);
    offset += c.size;
    if (shown.size() - kIsolateStart.size() <= kHeadSize) headEnd = shown.size();
  }
  if (offset < text.size()) {
    shown.resize(headEnd);
    shown += kCutMark;
    for (std::size_t at = tailStart(text, text.size(), kTailSize, form); at < text.size();) {
      const Character c = characterAt(text, at, form);
      appendShown(shown, text, at, c);
      at += c.size;
    }
  }
  return shown += kIsolateEnd;
}

std::string escapedText(std::string_view text) {
  std::string escaped;
  for (std::size_t offset = 0; offset < text.size();) {
    const Character c = characterAt(text, offset, TextForm::Utf8);
    appendShown(escaped, text, offset, c);
    offset += c.size;
  }
  return escaped;
}

}  // namespace tavrin
