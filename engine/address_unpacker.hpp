#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/text.hpp"

namespace tavrin {

// Divides a recipient text into display name and address. Three shapes:
// "Name" <address> (quoted), Name <address> (bracket) and a bare text, which
// is an address when it holds an at sign and a name otherwise. Both out-texts
// are emptied first. A quoted name with fewer than two characters after it
// raises the invalid-argument failure.
// The run does not call it: UnbuildStep::write unpacks by the same rules
// (unpackRecipient below) without copying the parts.
void UnBuildMailTo(std::string_view MailTo, std::string& Name, std::string& EMail, TextForm form);

// What UnBuildMailTo makes of a recipient text, as views: parts of the text
// itself where they can be, else of `nameSpace` and `emailSpace`, where the
// brackets taken out leave a new text. `refused` stands for the failure. An
// empty part is an empty view at a place in the text, never a null one, so
// that a caller may read from where any part begins.
struct Recipient {
  std::string_view name;
  std::string_view email;
  bool refused = false;
};
Recipient unpackRecipient(std::string_view MailTo, std::string& nameSpace, std::string& emailSpace,
                          TextForm form);

// The bytes that shape a recipient.
enum class ShapeByte { kQuote, kOpening, kClosing, kAtSign };
inline constexpr char kShapeBytes[4] = {'"', '<', '>', '@'};

// A part of a text: its bytes from `first` up to `last`.
struct Span {
  std::size_t first;
  std::size_t last;  // one past the last byte
};

// How the general way finds the bytes that shape a trimmed recipient text: a
// text of one block, which most are, is classified once, and every search is
// then a look at one mask.
class RecipientBytes {
 public:
  explicit RecipientBytes(std::string_view text);
  std::string_view text() const { return m_text; }
  // Offset of the first `byte` at or after `from`, or kNotFound.
  std::size_t find(ShapeByte byte, std::size_t from) const {
    const auto index = static_cast<std::size_t>(byte);
    if (from >= m_text.size()) return kNotFound;
    if (!m_masked) return m_text.find(kShapeBytes[index], from);
    const std::uint64_t ahead = m_masks[index] >> from;
    return ahead == 0 ? kNotFound : from + static_cast<std::size_t>(std::countr_zero(ahead));
  }
  // Bytes from..to without the blanks at their ends.
  Span trimmed(std::size_t from, std::size_t to) const {
    const std::string_view part = trim({m_text.data() + from, to - from});
    const auto first = static_cast<std::size_t>(part.data() - m_text.data());
    return {first, first + part.size()};
  }
  // Bytes from `from` to the end without the blanks and brackets at their
  // ends: every '>', and every '<' too when `alsoOpening`.
  Span withoutEndBrackets(std::size_t from, bool alsoOpening) const;
  // Offset of the first of those brackets at or after `from`, or kNotFound.
  std::size_t findBracket(std::size_t from, bool alsoOpening) const {
    const std::size_t closing = find(ShapeByte::kClosing, from);
    return alsoOpening ? std::min(closing, find(ShapeByte::kOpening, from)) : closing;
  }

 private:
  std::string_view m_text;
  bool m_masked;
  std::uint64_t m_masks[4] = {};
};

// The rules of a recipient's shape, written once over the way that `bytes`
// finds the bytes of a trimmed recipient text (`text`, `find`, `trimmed`,
// `withoutEndBrackets` and `findBracket` as RecipientBytes has them): the
// general way's, and the record step's, which classifies a short recipient
// itself.
namespace unpacking {

inline std::string_view partOf(std::string_view text, Span span) {
  return {text.data() + span.first, span.last - span.first};
}

// The bytes of `text` in `span` without the brackets, the first of which is
// at `bracket`, made in `space`.
std::string_view bracketsTakenOut(std::string_view text, Span span, std::size_t bracket, bool alsoOpening,
                                  std::string& space);

// The brackets rule: the text from `from` on without every '>', and every '<'
// too when `alsoOpening`, trimmed. A view of the text when brackets stand only
// at its ends, as in "<ann@example.com>", else made in `space`.
template <typename Bytes>
[[gnu::always_inline]] inline std::string_view withoutBrackets(const Bytes& bytes, std::size_t from,
                                                               bool alsoOpening, std::string& space) {
  const Span span = bytes.withoutEndBrackets(from, alsoOpening);
  const std::size_t bracket = bytes.findBracket(span.first, alsoOpening);
  if (bracket >= span.last) return partOf(bytes.text(), span);
  return bracketsTakenOut(bytes.text(), span, bracket, alsoOpening, space);
}

// "Name" <address>: the name lies between the first character, taken as the
// opening quote whatever it is, and the quote at `quote`; of what follows,
// trimmed, the first and the last character go (normally '<' and '>'). Fewer
// than two characters there are refused.
template <typename Bytes>
[[gnu::always_inline]] inline Recipient quotedForm(const Bytes& bytes, std::size_t second, std::size_t quote,
                                                   TextForm form) {
  const std::string_view s = bytes.text();
  const std::string_view name = partOf(s, {second, quote});
  const std::string_view rest = partOf(s, bytes.trimmed(quote + 1, s.size()));
  const std::size_t afterFirst = characterAt(rest, 0, form).size;
  if (afterFirst >= rest.size()) return {name, partOf(rest, {0, 0}), true};
  return {name, partOf(rest, {afterFirst, lastCharacterStart(rest, form)})};
}

// The four forms: quoted; bracket, Name <address>; and a bare text, which is
// an address when it holds an at sign and a name otherwise.
template <typename Bytes>
[[gnu::always_inline]] inline Recipient unpack(const Bytes& bytes, std::string& nameSpace,
                                               std::string& emailSpace, TextForm form) {
  const std::string_view s = bytes.text();
  // The closing quote and the '<' are looked for from the second character on.
  const std::size_t second = characterAt(s, 0, form).size;
  const std::size_t quote = bytes.find(ShapeByte::kQuote, second);
  if (quote != kNotFound) return quotedForm(bytes, second, quote, form);

  const std::size_t bracket = bytes.find(ShapeByte::kOpening, second);
  const bool bracketForm = bracket != kNotFound;
  const std::size_t address = bracketForm ? bracket + 1 : 0;
  if (bytes.find(ShapeByte::kAtSign, address) == kNotFound) {
    // Not an address: it is the name, replacing the text before a '<'.
    const std::string_view name = bracketForm ? withoutBrackets(bytes, address, false, nameSpace) : s;
    return {name, partOf(s, {s.size(), s.size()})};
  }
  // The bracket form keeps the blanks before the '<' in its name.
  return {partOf(s, {0, bracketForm ? bracket : 0}), withoutBrackets(bytes, address, true, emailSpace)};
}

}  // namespace unpacking

}  // namespace tavrin
