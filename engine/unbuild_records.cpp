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

// Up to eight bytes as a word, the first in the lowest bits.
constexpr std::uint64_t wordOf(std::string_view bytes) {
  std::uint64_t word = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    word |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
  }
  return word;
}

// Whether the name ends in inc, inc., corp or corp., in any case. One name can
// match only one of these, so testing all four at once gives what testing them
// in turn would.
bool endsLikeACompany(std::string_view name) {
  // Only c, p and '.' end one, and no other character lower-cases to them.
  const char last = name.empty() ? '\0' : name.back();
  if (last != 'c' && last != 'C' && last != 'p' && last != 'P' && last != '.') return false;
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

// Whether the name equals the address once both are lower-cased. Most names
// differ from their address within their first eight bytes, which are told
// here a word at a time; the rest goes to the full comparison.
bool repeatsTheAddress(std::string_view name, std::string_view email) {
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

// Whether the name is blank; a name that begins with other than a space or
// NUL is not, which spares most names the call.
bool isBlankName(std::string_view name) {
  return name.empty() || ((name[0] == ' ' || name[0] == '\0') && IsBlank(name));
}

// The first '(' and the first ',' of the name, kNotFound for none; a comma
// after the '(' goes with the cut, so it counts as none. A name of one block
// is classified at once.
void findBracketAndComma(std::string_view name, std::size_t& bracket, std::size_t& comma) {
  std::uint64_t brackets;
  std::uint64_t commas;
  if (name.size() <= kShortText) {
    shortTextMasks(name, '(', ',', brackets, commas);
  } else if (name.size() <= kBlockSize) {
    constexpr char kBytes[4] = {'(', ',', '(', ','};
    std::uint64_t masks[4];
    blockScanner().eachOfFour(name.data(), name.size(), kBytes, masks);
    brackets = masks[0];
    commas = masks[1];
  } else {
    bracket = name.find('(');
    comma = name.find(',');
    if (comma > bracket) comma = kNotFound;
    return;
  }
  // Bits below the first '(' only.
  commas &= brackets == 0 ? ~std::uint64_t{0} : (brackets & -brackets) - 1;
  bracket = brackets == 0 ? kNotFound : static_cast<std::size_t>(std::countr_zero(brackets));
  comma = commas == 0 ? kNotFound : static_cast<std::size_t>(std::countr_zero(commas));
}

}  // namespace

DisplayName tidyDisplayName(std::string_view name, std::string_view email) {
  std::size_t bracket;
  std::size_t comma;
  findBracketAndComma(name, bracket, comma);
  const char* const start = name.data();
  if (bracket != kNotFound) name = trim(name.substr(0, bracket));
  if (endsLikeACompany(name) || repeatsTheAddress(name, email) || isBlankName(name)) return {kGenericName};
  if (comma == kNotFound) return {name};
  comma -= static_cast<std::size_t>(name.data() - start);  // the blanks trimmed off its start
  // "Last, First" becomes "First Last", trimmed as a whole: a blank side
  // goes with the blank between.
  const std::string_view first = trim(name.substr(comma + 1));
  const std::string_view last = trim(name.substr(0, comma));
  if (first.empty() || last.empty()) return {first.empty() ? last : first};
  return {std::string_view(first.data(), name.data() + name.size() - first.data()), " ",
          std::string_view(name.data(), last.data() + last.size() - name.data())};
}

std::string_view tidyDisplayName(std::string_view name, std::string_view email, std::string& scratch) {
  const DisplayName tidied = tidyDisplayName(name, email);
  if (tidied.blank.empty()) return tidied.first;
  scratch.assign(tidied.first);
  scratch += tidied.blank;
  scratch += tidied.last;
  return scratch;
}

namespace {

// The bytes that shape a recipient and its name, and NUL, which makes a name
// of NULs blank.
constexpr char kShapeBytes[8] = {'"', '<', '>', '@', ' ', '(', ',', '\0'};
enum ShapeByte { kQuote, kOpening, kClosing, kAtSign, kSpace, kParenthesis, kComma, kNul };

// Bits 0 to `end` - 1, for `end` up to 64, as one load from a table.
constexpr auto kBitsBelow = [] {
  std::array<std::uint64_t, 65> table{};
  for (std::size_t end = 0; end < table.size(); ++end) {
    table[end] = end >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << end) - 1;
  }
  return table;
}();
std::uint64_t bitsBelow(std::size_t end) {
  return kBitsBelow[end];
}
std::uint64_t bitsFrom(std::size_t start) {
  return ~kBitsBelow[start];
}
std::size_t firstBit(std::uint64_t bits) {
  return static_cast<std::size_t>(std::countr_zero(bits));  // 64 for none
}
std::size_t pastLastBit(std::uint64_t bits) {
  return 64 - static_cast<std::size_t>(std::countl_zero(bits));  // 0 for none
}

// Copies a part of a record, at most 64 bytes from the block, with one
// whole-block move: past its end lie bytes of the block to read and room in
// the line to write.
char* copyPart(char* out, const char* part, std::size_t size) {
  std::memcpy(out, part, kBlockSize);
  return out + size;
}

// "Partner" and its NUL: eight bytes, copied in one move.
constexpr char kGenericNameBytes[8] = "Partner";
static_assert(kGenericName == std::string_view(kGenericNameBytes));

}  // namespace

UnbuildStep::UnbuildStep() : m_scanner(blockScanner()), m_block{}, m_line{} {}

// The usual recipient, of at most 64 bytes, unpacked and tidied on bit masks
// of its bytes, by the same steps as unpackRecipient and tidyDisplayName,
// and only those that its shape needs; parts are copied a whole block at a
// time. Writes the record line at `line`, which has room for kLineRoom
// bytes, and gives its size; or gives 0 for a recipient that the general
// path takes: a refused one, a rare shape, one with NUL, or a quoted one
// with a character beyond ASCII where characters are counted.
// Out of the token loop, whose registers its many values would crowd.
[[gnu::noinline]] std::size_t UnbuildStep::shortRecord(std::string_view recipient, char* line) {
  const std::size_t size = recipient.size();
  if (size == 0 || size > kBlockSize) return 0;
  char* const block = m_block;
  ClassifiedBlock bytes;
  m_scanner.copyAndClassify(recipient.data(), size, kShapeBytes, block, bytes);
  if (bytes.equal[kNul] != 0) return 0;
  // Multi-byte characters are content like any other, except where the
  // unpacker counts characters: where a quoted recipient begins, and at the
  // ends of what follows its name.
  const std::uint64_t beyondAscii = bytes.beyondAscii;
  const std::uint64_t content = bitsBelow(size) & ~bytes.equal[kSpace];  // no blanks

  std::size_t nameStart = 0;
  std::size_t nameEnd;
  std::size_t emailStart = 0;
  std::size_t emailEnd = 0;
  // "Name" <address>: the first character counts as the opening quote; no
  // byte of it after the first can be a quote or a '<'. The name lies between
  // the quotes; after them, trimmed, the first and last characters go.
  if (const std::uint64_t closingQuotes = bytes.equal[kQuote] & ~std::uint64_t{1}; closingQuotes != 0) {
    nameStart = 1;
    nameEnd = firstBit(closingQuotes);
    const std::size_t rest = firstBit(content & bitsFrom(nameEnd + 1));
    if (rest + 1 >= size) return 0;  // refused
    if ((beyondAscii & (1 | std::uint64_t{1} << rest | std::uint64_t{1} << (size - 1))) != 0) return 0;
    emailStart = rest + 1;
    emailEnd = size - 1;
  } else {
    // Name <address> and a bare address: the address stripped of blanks and
    // brackets at its ends. Without an at sign, a bare text is the name.
    const std::uint64_t openings = bytes.equal[kOpening] & ~std::uint64_t{1};
    nameEnd = openings != 0 ? firstBit(openings) : 0;
    const std::size_t address = openings != 0 ? nameEnd + 1 : 0;
    if ((bytes.equal[kAtSign] & bitsFrom(address)) != 0) {
      const std::uint64_t brackets = bytes.equal[kOpening] | bytes.equal[kClosing];
      const std::uint64_t inAddress = content & ~brackets & bitsFrom(address);
      emailStart = firstBit(inAddress);
      emailEnd = pastLastBit(inAddress);
      if ((brackets & bitsFrom(emailStart) & bitsBelow(emailEnd)) != 0) return 0;
    } else if (openings == 0) {
      nameEnd = size;
    } else {
      return 0;
    }
  }
  const std::size_t emailLength = emailEnd - emailStart;

  // The name rules. A parenthesised tail is cut and the rest trimmed.
  std::uint64_t inName = bitsFrom(nameStart) & bitsBelow(nameEnd);
  std::size_t start = nameStart;
  std::size_t end = nameEnd;
  if (const std::uint64_t parentheses = bytes.equal[kParenthesis] & inName; parentheses != 0) {
    inName &= bitsBelow(firstBit(parentheses));
    const std::uint64_t named = content & inName;
    start = named != 0 ? firstBit(named) : nameStart;
    end = named != 0 ? pastLastBit(named) : nameStart;
  }
  const std::size_t length = end - start;
  const std::string_view name(block + start, length);
  const std::string_view email(block + emailStart, emailLength);

  // Only c, p and '.' can end a company name, in any case.
  const char last = length != 0 ? name.back() : '\0';
  const bool mayBeCompany = (last | 0x20) == 'c' || (last | 0x20) == 'p' || last == '.';
  // Texts equal but for case have as many characters. A character takes a
  // byte or more, one in ASCII exactly one: a text in ASCII can only repeat
  // one with as many bytes or more.
  const bool nameInAscii = (beyondAscii & bitsFrom(start) & bitsBelow(end)) == 0;
  const bool emailInAscii = (beyondAscii & bitsFrom(emailStart) & bitsBelow(emailEnd)) == 0;
  const bool mayRepeat = (!nameInAscii || length <= emailLength) && (!emailInAscii || emailLength <= length);
  const bool generic = (content & bitsFrom(start) & bitsBelow(end)) == 0 ||  // blank
                       (mayBeCompany && endsLikeACompany(name)) ||
                       (mayRepeat && repeatsTheAddress(name, email));

  char* out = line;
  const std::uint64_t commas = bytes.equal[kComma] & inName;
  if (generic) {
    std::memcpy(out, kGenericNameBytes, sizeof kGenericNameBytes);
    out += kGenericName.size();
  } else if (commas == 0) {
    out = copyPart(out, name.data(), length);
  } else {
    // "Last, First" becomes "First Last"; a blank side is left to the general path.
    const std::size_t comma = firstBit(commas);
    const std::uint64_t first = content & bitsFrom(comma + 1) & bitsBelow(end);
    const std::uint64_t lastName = content & bitsFrom(start) & bitsBelow(comma);
    if (first == 0 || lastName == 0) return 0;
    const std::size_t firstStart = firstBit(first);
    out = copyPart(out, block + firstStart, end - firstStart);
    *out++ = ' ';
    out = copyPart(out, name.data(), pastLastBit(lastName) - start);
  }
  *out++ = ',';
  out = copyPart(out, email.data(), emailLength);
  return static_cast<std::size_t>(out - line);
}

UnbuildStep::General UnbuildStep::generalRecord(std::string_view recipient, TextForm form) {
  const Recipient unpacked = unpackRecipient(recipient, m_name, m_email, form);
  if (unpacked.refused) throw invalidArgument();
  return {tidyDisplayName(unpacked.name, unpacked.email), unpacked.email};
}

std::string_view UnbuildStep::record(std::string_view token, TextForm form) {
  const std::string_view recipient = trim(token);
  const std::size_t size = shortRecord(recipient, m_line);
  if (size != 0) return {m_line, size};
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
    char* const room = output.lineRoom();
    if (const std::size_t size = shortRecord(recipient, room); size != 0) {
      output.endLine(room + size);
      return;
    }
  } else if (const std::size_t size = shortRecord(recipient, m_line); size != 0) {
    if (firstRecord) output.writeLine(kUnbuildHeader);
    firstRecord = false;
    output.writeLine(std::string_view(m_line, size));
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
