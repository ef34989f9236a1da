#include "engine/unbuild_records.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "engine/address_unpacker.hpp"
#include "engine/blank.hpp"
#include "engine/byte_scan.hpp"
#include "engine/failure.hpp"
#include "engine/text.hpp"
#include "engine/text_file.hpp"

namespace tavrin {

namespace {

using unpacking::partOf;

// "Partner", padded so that a whole block may be read from it as from a part
// of a recipient.
constexpr char kGenericNameBlock[kBlockSize] = "Partner";
constexpr std::string_view kGenericName(kGenericNameBlock, 7);
static_assert(kGenericName == "Partner");

// Up to eight bytes as a word, the first in the lowest bits.
constexpr std::uint64_t wordOf(std::string_view bytes) {
  std::uint64_t word = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    word |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
  }
  return word;
}

// What endsLikeACompany decides once the last byte of a name can end one.
[[gnu::noinline]] bool endsInCompanyLetters(std::string_view name) {
  constexpr std::size_t kLongest = 5;
  // Five ASCII bytes, the last one in byte 4 and zeros before a shorter name,
  // are lower-cased at once.
  const std::size_t size = std::min(name.size(), kLongest);
  const std::uint64_t lastBytes = loadUpTo8(name.data() + name.size() - size, size)
                                  << (8 * (kLongest - size));
  if ((lastBytes & 0x8080808080808080) == 0) {
    const std::uint64_t lower = lowerAsciiBytes(lastBytes);
    return lower >> 16 == wordOf("inc") || lower >> 8 == wordOf("inc.") || lower >> 8 == wordOf("corp") ||
           lower == wordOf("corp.");
  }
  // The last characters, lower-cased, filled from the end. A lone surrogate
  // of a UTF-16 file's text is no letter, nor are the three stray bytes that
  // it makes in UTF-8: in either form the answer is the same.
  char tail[kLongest];
  std::size_t count = 0;
  for (; count < kLongest && !name.empty(); ++count) {
    const std::size_t start = lastCharacterStart(name, TextForm::Utf8);
    const Character c = characterAt(name, start, TextForm::Utf8);
    const char32_t lower = c.wellFormed ? toLower(c.code) : c.code;
    tail[kLongest - 1 - count] = lower < 0x80 ? static_cast<char>(lower) : '\x80';
    name = name.substr(0, start);
  }
  const std::string_view ending(tail + kLongest - count, count);
  return ending.ends_with("inc") || ending.ends_with("inc.") || ending.ends_with("corp") ||
         ending.ends_with("corp.");
}

// The company rules: whether the name ends in inc, inc., corp or corp., in any
// case. One name can match only one of these, so testing all four at once
// gives what testing them in turn would.
[[gnu::always_inline]] inline bool endsLikeACompany(std::string_view name) {
  // Only c, p and '.' end one, in either case, and no other character
  // lower-cases to them.
  const char last = name.empty() ? '\0' : name.back();
  return ((last | 0x20) == 'c' || (last | 0x20) == 'p' || last == '.') && endsInCompanyLetters(name);
}

// What repeatsTheAddress decides for two texts that end alike.
[[gnu::noinline]] bool equalsTheAddress(std::string_view name, std::string_view email) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080;
  std::size_t i = 0;
  for (;;) {
    const std::size_t size = std::min({name.size() - i, email.size() - i, std::size_t{8}});
    const std::uint64_t nameBytes = loadUpTo8(name.data() + i, size);
    const std::uint64_t emailBytes = loadUpTo8(email.data() + i, size);
    if (((nameBytes | emailBytes) & kHighBits) != 0) break;  // beyond ASCII
    if (lowerAsciiBytes(nameBytes) != lowerAsciiBytes(emailBytes)) return false;
    i += size;
    // A non-empty text never lower-cases to the empty one.
    if (size < 8) return name.size() == email.size();
  }
  return equalsIgnoringCase(name.substr(i), email.substr(i));
}

// The missing-name rule, one half: whether the name equals the address once
// both are lower-cased. Most names end in another letter than their address;
// the rest are compared a word of ASCII at a time, and beyond ASCII character
// by character.
[[gnu::always_inline]] inline bool repeatsTheAddress(std::string_view name, std::string_view email) {
  if (name.empty() || email.empty()) return name.size() == email.size();
  // An ASCII byte is a character of its own, and lower-cases to ASCII alone,
  // changing no other bit than 0x20.
  const auto nameEnd = static_cast<unsigned char>(name.back());
  const auto emailEnd = static_cast<unsigned char>(email.back());
  if ((nameEnd | emailEnd) < 0x80 && ((nameEnd ^ emailEnd) & ~0x20) != 0) return false;
  return equalsTheAddress(name, email);
}

// The missing-name rule, other half: whether the name is blank; a name that
// begins with other than a space or NUL is not, which spares most names the
// call.
[[gnu::always_inline]] inline bool isBlankName(std::string_view name) {
  return name.empty() || ((name[0] == ' ' || name[0] == '\0') && IsBlank(name));
}

// The parenthesis rule: a name is cut before its first '(' and trimmed.
template <typename Bytes>
[[gnu::always_inline]] inline Span withoutParenthesisedTail(const Bytes& bytes, Span name) {
  const std::size_t parenthesis = bytes.findIn(name, '(');
  return parenthesis == kNotFound ? name : bytes.trimmed(name.first, parenthesis);
}

// The name-order rule: "Last, First", with its first comma at `comma`,
// becomes "First Last", trimmed as a whole: a blank side goes with the blank
// between.
template <typename Bytes>
[[gnu::always_inline]] inline DisplayName turnedRound(const Bytes& bytes, Span name, std::size_t comma) {
  const std::string_view text = bytes.text();
  const Span first = bytes.trimmed(comma + 1, name.last);
  const Span last = bytes.trimmed(name.first, comma);
  if (first.first == first.last) return {partOf(text, last)};
  if (last.first == last.last) return {partOf(text, first)};
  return {partOf(text, {first.first, name.last}), " ", partOf(text, {name.first, last.last})};
}

// The display-name rules, in order, written once over the way that `bytes`
// finds the bytes of the text that holds the name at `name`: the general
// way's, and the record step's, which classifies a short recipient itself.
// Both have `text` and `trimmed` as RecipientBytes has them, and `findIn`,
// the first of a byte within a span.
template <typename Bytes>
[[gnu::always_inline]] inline DisplayName tidy(const Bytes& bytes, Span name, std::string_view email) {
  const Span kept = withoutParenthesisedTail(bytes, name);
  const std::string_view text = partOf(bytes.text(), kept);
  if (isBlankName(text) || endsLikeACompany(text) || repeatsTheAddress(text, email)) return {kGenericName};
  const std::size_t comma = bytes.findIn(kept, ',');
  if (comma == kNotFound) return {text};
  return turnedRound(bytes, kept, comma);
}

// Bits `start` to `end` - 1, for both up to 64, as loads from a table.
constexpr auto kBitsBelow = [] {
  std::array<std::uint64_t, 65> table{};
  for (std::size_t end = 0; end < table.size(); ++end) {
    table[end] = end >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << end) - 1;
  }
  return table;
}();
[[gnu::always_inline]] inline std::uint64_t bitsBetween(std::size_t start, std::size_t end) {
  return kBitsBelow[end] & ~kBitsBelow[start];
}
// The first of `bits`, or `none`; without a branch, which the bytes of
// recipients would often mispredict.
[[gnu::always_inline]] inline std::size_t firstBit(std::uint64_t bits, std::size_t none) {
  const auto first = static_cast<std::size_t>(std::countr_zero(bits));  // 64 for none
  return bits == 0 ? none : first;
}
// From the first of `bits` to just past the last, or `none` to `none` for
// none, where `bits` lie below `none`; without a branch.
[[gnu::always_inline]] inline Span spanOfBits(std::uint64_t bits, std::size_t none) {
  const std::size_t first = std::min(static_cast<std::size_t>(std::countr_zero(bits)), none);
  return {first, std::max(64 - static_cast<std::size_t>(std::countl_zero(bits)), first)};
}

// How the general way finds the bytes of a name: by searching it.
class NameText {
 public:
  explicit NameText(std::string_view name) : m_name(name) {}
  std::string_view text() const { return m_name; }
  Span trimmed(std::size_t from, std::size_t to) const {
    const std::string_view part = trim({m_name.data() + from, to - from});
    const auto first = static_cast<std::size_t>(part.data() - m_name.data());
    return {first, first + part.size()};
  }
  std::size_t findIn(Span span, char byte) const {
    const std::size_t found = partOf(m_name, span).find(byte);
    return found == kNotFound ? kNotFound : span.first + found;
  }

 private:
  std::string_view m_name;
};

// What the record step classifies in a short recipient: the bytes that shape
// it, the blank, and those that mark its name. Seven are needed; the eighth
// repeats the last.
constexpr char kBlockBytes[8] = {'"', '<', '>', '@', ' ', '(', ',', ','};
constexpr std::size_t kBlank = 4;
constexpr std::size_t kParenthesis = 5;
constexpr std::size_t kComma = 6;
static_assert(std::string_view(kBlockBytes, 4) == std::string_view(kShapeBytes, 4));

// How the record step's short way finds the bytes of a recipient of at most a
// block: on the masks of its classification, a few bit operations each.
class BlockBytes {
 public:
  BlockBytes(std::string_view text, const ClassifiedBlock& classified)
      : m_text(text),
        m_classified(classified),
        m_content(bitsBetween(0, text.size()) & ~classified.equal[kBlank]) {}
  std::string_view text() const { return m_text; }
  [[gnu::always_inline]] std::size_t find(ShapeByte byte, std::size_t from) const {
    return firstBit(m_classified.equal[static_cast<std::size_t>(byte)] & ~kBitsBelow[from], kNotFound);
  }
  [[gnu::always_inline]] Span trimmed(std::size_t from, std::size_t to) const {
    return spanOfBits(m_content & bitsBetween(from, to), to);
  }
  [[gnu::always_inline]] Span withoutEndBrackets(std::size_t from, bool alsoOpening) const {
    return spanOfBits(m_content & ~brackets(alsoOpening) & ~kBitsBelow[from], m_text.size());
  }
  [[gnu::always_inline]] std::size_t findBracket(std::size_t from, bool alsoOpening) const {
    return firstBit(brackets(alsoOpening) & ~kBitsBelow[from], kNotFound);
  }
  // `byte` is one of the name's marks, '(' or ','.
  [[gnu::always_inline]] std::size_t findIn(Span span, char byte) const {
    return firstBit(
        m_classified.equal[byte == '(' ? kParenthesis : kComma] & bitsBetween(span.first, span.last),
        kNotFound);
  }

 private:
  std::uint64_t brackets(bool alsoOpening) const {
    return m_classified.equal[static_cast<std::size_t>(ShapeByte::kClosing)] |
           (alsoOpening ? m_classified.equal[static_cast<std::size_t>(ShapeByte::kOpening)] : 0);
  }

  std::string_view m_text;
  const ClassifiedBlock& m_classified;
  std::uint64_t m_content;  // the bytes of the text but blanks
};

}  // namespace

DisplayName tidyDisplayName(std::string_view name, std::string_view email) {
  const NameText bytes(name);
  return tidy(bytes, {0, name.size()}, email);
}

std::string_view tidyDisplayName(std::string_view name, std::string_view email, std::string& scratch) {
  const DisplayName tidied = tidyDisplayName(name, email);
  if (tidied.blank.empty()) return tidied.first;
  scratch.assign(tidied.first);
  scratch += tidied.blank;
  scratch += tidied.last;
  return scratch;
}

std::size_t UnbuildStep::offsetInBlock(std::string_view part) const {
  // Far beyond the block for a part that is not in it, below it or above.
  return reinterpret_cast<std::uintptr_t>(part.data()) - reinterpret_cast<std::uintptr_t>(m_block);
}

// Copies a part of a record, at most a block from the block of the
// recipient or from the generic name, with one whole-block move.
char* UnbuildStep::copyPart(char* out, std::string_view part) const {
  static_assert(sizeof m_block >= 2 * kBlockSize && sizeof kGenericNameBlock >= kBlockSize);
  std::memcpy(out, part.data(), kBlockSize);
  return out + part.size();
}

// The usual recipient, of at most 64 bytes, found on bit masks of its bytes:
// unpacked and tidied by the same rules as the general way, and written at
// `room` with its parts copied a whole block at a time. Gives its size, or 0
// for a recipient that the general way takes: a refused one, or one whose
// name or address is a text of its own, not a part of the recipient.
// Out of the token loop, whose registers its many values would crowd.
[[gnu::noinline]] std::size_t UnbuildStep::shortRecord(std::string_view recipient, LineRoom room,
                                                       TextForm form) {
  const std::size_t size = recipient.size();
  if (size == 0 || size > kBlockSize) return 0;
  ClassifiedBlock classified;
  m_scanner.copyAndClassify(recipient.data(), size, kBlockBytes, m_block, classified);
  const BlockBytes bytes({m_block, size}, classified);
  const Recipient unpacked = unpacking::unpack(bytes, m_name, m_email, form);
  const std::size_t nameStart = offsetInBlock(unpacked.name);
  if (unpacked.refused || std::max(nameStart, offsetInBlock(unpacked.email)) > kBlockSize) return 0;
  const Span nameSpan{nameStart, nameStart + unpacked.name.size()};
  const DisplayName name = tidy(bytes, nameSpan, unpacked.email);

  // The name's parts and the address together are at most the recipient.
  static_assert(LineRoom::kSize >= kBlockSize + 2 + kBlockSize + 2);
  char* out = copyPart(room.begin(), name.first);
  if (!name.blank.empty()) {
    *out++ = ' ';
    out = copyPart(out, name.last);
  }
  *out++ = ',';
  out = copyPart(out, unpacked.email);
  return static_cast<std::size_t>(out - room.begin());
}

UnbuildStep::General UnbuildStep::generalRecord(std::string_view recipient, TextForm form) {
  const Recipient unpacked = unpackRecipient(recipient, m_name, m_email, form);
  if (unpacked.refused) throw invalidArgument();
  return {tidyDisplayName(unpacked.name, unpacked.email), unpacked.email};
}

std::string_view UnbuildStep::record(std::string_view token, TextForm form) {
  const std::string_view recipient = trim(token);
  const std::size_t size = shortRecord(recipient, m_line.room(), form);
  if (size != 0) return m_line.line(size);
  const General general = generalRecord(recipient, form);
  m_record.assign(general.name.first);
  m_record += general.name.blank;
  m_record += general.name.last;
  m_record += ',';
  m_record += general.email;
  return m_record;
}

void UnbuildStep::write(std::string_view recipient, TextWriter& output, bool& firstRecord, TextForm form) {
  // The usual record goes straight into the output's buffer.
  if (!firstRecord && output.hasLineRoom()) {
    const LineRoom room = output.lineRoom();
    if (const std::size_t size = shortRecord(recipient, room, form); size != 0) {
      output.endLine(room, size);
      return;
    }
  } else if (const std::size_t size = shortRecord(recipient, m_line.room(), form); size != 0) {
    if (firstRecord) output.writeLine(kUnbuildHeader);
    firstRecord = false;
    output.writeLine(m_line.line(size));
    return;
  }
  // In parts, so that a long name and address are never copied.
  const General general = generalRecord(recipient, form);
  if (firstRecord) output.writeLine(kUnbuildHeader);
  firstRecord = false;
  output.writeLine(general.name.first, general.name.blank, general.name.last, std::string_view(","),
                   general.email);
}

}  // namespace tavrin
