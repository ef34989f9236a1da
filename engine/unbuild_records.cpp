#include "engine/unbuild_records.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "engine/address_unpacker.hpp"
#include "engine/blank.hpp"
#include "engine/byte_scan.hpp"
#include "engine/failure.hpp"
#include "engine/text.hpp"
#include "engine/text_file.hpp"

namespace tavrin {

namespace {

// Whether the name ends in inc, inc., corp or corp., in any case. One name can
// match only one of these, so testing all four at once gives what testing them
// in turn would.
bool endsLikeACompany(std::string_view name) {
  // Only c, p and '.' end one, and no other character lower-cases to them.
  const char last = name.empty() ? '\0' : name.back();
  if (last != 'c' && last != 'C' && last != 'p' && last != 'P' && last != '.') return false;
  constexpr std::size_t kLongest = 5;
  char tail[kLongest];  // the last characters, lower-cased, filled from the end
  std::size_t count = 0;
  for (; count < kLongest && !name.empty(); ++count) {
    const std::size_t start = lastCharacterStart(name);
    const Character c = characterAt(name, start);
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

std::string_view tidyDisplayName(std::string_view name, std::string_view email, std::string& scratch) {
  std::size_t bracket;
  std::size_t comma;
  findBracketAndComma(name, bracket, comma);
  const char* const start = name.data();
  if (bracket != kNotFound) name = trim(name.substr(0, bracket));
  if (endsLikeACompany(name) || repeatsTheAddress(name, email) || isBlankName(name)) {
    name = kGenericName;
    comma = kNotFound;
  } else if (comma != kNotFound) {
    comma -= static_cast<std::size_t>(name.data() - start);  // the blanks trimmed off its start
  }
  if (comma != kNotFound) {
    scratch.assign(name.substr(comma + 1));
    scratch += ' ';
    scratch.append(name.substr(0, comma));
    name = trim(scratch);
  }
  return name;
}

void UnbuildStep::write(std::string_view token, TextWriter& output, bool& firstRecord) {
  const Recipient recipient = unpackRecipient(token, m_name, m_email);
  if (recipient.refused) throw invalidArgument();
  const std::string_view name = tidyDisplayName(recipient.name, recipient.email, m_scratch);
  if (firstRecord) output.writeLine(kUnbuildHeader);
  firstRecord = false;
  output.writeLine(name, ",", recipient.email);
}

}  // namespace tavrin
