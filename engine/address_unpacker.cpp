#include "engine/address_unpacker.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "engine/byte_scan.hpp"
#include "engine/failure.hpp"
#include "engine/text.hpp"

namespace tavrin {

namespace {

// Finds the four bytes that shape a recipient. A text of one block, which
// most recipients are, is classified once, and every search is then a look
// at one mask.
class RecipientBytes {
 public:
  static constexpr char kBytes[4] = {'"', '<', '>', '@'};

  explicit RecipientBytes(std::string_view text) : m_text(text), m_masked(text.size() <= kBlockSize) {
    if (m_masked) blockScanner().eachOfFour(text.data(), text.size(), kBytes, m_masks);
  }

  // Offset of the first `byte` (one of kBytes) at or after `from`, or kNotFound.
  std::size_t find(int byte, std::size_t from) const {
    if (from >= m_text.size()) return kNotFound;
    if (!m_masked) return m_text.find(kBytes[byte], from);
    const std::uint64_t ahead = m_masks[byte] >> from;
    return ahead == 0 ? kNotFound : from + static_cast<std::size_t>(std::countr_zero(ahead));
  }

 private:
  std::string_view m_text;
  bool m_masked;
  std::uint64_t m_masks[4] = {};
};

constexpr int kQuote = 0;
constexpr int kOpening = 1;
constexpr int kClosing = 2;
constexpr int kAtSign = 3;

// The part of `text` from `from` on without every '>', and every '<' too when
// `alsoOpening`, trimmed: a view of `text` when brackets stand only at its
// ends, as in "<ann@example.com>", else made in `space`, in one pass however
// many brackets the text holds.
std::string_view withoutBrackets(const RecipientBytes& bytes, std::string_view text, std::size_t from,
                                 bool alsoOpening, std::string& space) {
  auto isBracket = [alsoOpening](char c) { return c == '>' || (alsoOpening && c == '<'); };
  std::size_t first = from;
  std::size_t last = text.size();
  while (first < last && (text[first] == ' ' || isBracket(text[first]))) ++first;
  while (last > first && (text[last - 1] == ' ' || isBracket(text[last - 1]))) --last;
  const std::size_t bracket =
      std::min(bytes.find(kClosing, first), alsoOpening ? bytes.find(kOpening, first) : kNotFound);
  if (bracket >= last) return text.substr(first, last - first);
  space.clear();
  space.reserve(last - first);  // one allocation, whose unused end costs no memory
  space.append(text, first, bracket - first);
  for (std::size_t at = bracket + 1; at < last; ++at) {
    if (!isBracket(text[at])) space.push_back(text[at]);
  }
  return trim(space);
}

}  // namespace

Recipient unpackRecipient(std::string_view MailTo, std::string& nameSpace, std::string& emailSpace,
                          TextForm form) {
  const std::string_view s = trim(MailTo);
  const RecipientBytes bytes(s);
  // The closing quote and the '<' are looked for from the second character on:
  // the first is taken as the opening quote whatever it is.
  const std::size_t second = characterAt(s, 0, form).size;

  const std::size_t quote = bytes.find(kQuote, second);
  if (quote != kNotFound) {
    const std::string_view name = s.substr(second, quote - second);
    const std::string_view rest = trim(s.substr(quote + 1));
    const std::size_t afterFirst = characterAt(rest, 0, form).size;
    if (afterFirst >= rest.size()) return {name, {}, true};  // fewer than two characters
    // Whatever stands first and last (normally '<' and '>') goes.
    const std::size_t last = lastCharacterStart(rest, form);
    return {name, rest.substr(afterFirst, last - afterFirst)};
  }

  const std::size_t bracket = bytes.find(kOpening, second);
  const bool bracketForm = bracket != kNotFound;
  const std::size_t address = bracketForm ? bracket + 1 : 0;
  if (bytes.find(kAtSign, address) == kNotFound) {
    // Not an address: it is the name, replacing the text before a '<'.
    if (bracketForm) return {withoutBrackets(bytes, s, address, false, nameSpace), {}};
    return {s, {}};
  }
  // The bracket form keeps the blanks before the '<' in its name.
  const std::string_view name = bracketForm ? s.substr(0, bracket) : std::string_view();
  return {name, withoutBrackets(bytes, s, address, true, emailSpace)};
}

void UnBuildMailTo(std::string_view MailTo, std::string& Name, std::string& EMail, TextForm form) {
  Name.clear();
  EMail.clear();
  std::string nameSpace;
  std::string emailSpace;
  const Recipient recipient = unpackRecipient(MailTo, nameSpace, emailSpace, form);
  Name.assign(recipient.name);
  if (recipient.refused) throw invalidArgument();
  EMail.assign(recipient.email);
}

}  // namespace tavrin
