#include "engine/address_unpacker.hpp"

#include "engine/byte_scan.hpp"
#include "engine/failure.hpp"
#include "engine/text.hpp"

namespace tavrin {

namespace {

bool isBracket(char c, bool alsoOpening) {
  return c == '>' || (alsoOpening && c == '<');
}

}  // namespace

RecipientBytes::RecipientBytes(std::string_view text) : m_text(text), m_masked(text.size() <= kBlockSize) {
  if (m_masked) blockScanner().eachOfFour(text.data(), text.size(), kShapeBytes, m_masks);
}

Span RecipientBytes::withoutEndBrackets(std::size_t from, bool alsoOpening) const {
  std::size_t first = from;
  std::size_t last = m_text.size();
  while (first < last && (m_text[first] == ' ' || isBracket(m_text[first], alsoOpening))) ++first;
  while (last > first && (m_text[last - 1] == ' ' || isBracket(m_text[last - 1], alsoOpening))) --last;
  return {first, last};
}

std::string_view unpacking::bracketsTakenOut(std::string_view text, Span span, std::size_t bracket,
                                             bool alsoOpening, std::string& space) {
  space.clear();
  space.reserve(span.last - span.first);  // one allocation, whose unused end costs no memory
  space.append(text, span.first, bracket - span.first);
  for (std::size_t at = bracket + 1; at < span.last; ++at) {
    if (!isBracket(text[at], alsoOpening)) space.push_back(text[at]);
  }
  // What is left may end in blanks that stood before a bracket.
  return trim(space);
}

Recipient unpackRecipient(std::string_view MailTo, std::string& nameSpace, std::string& emailSpace,
                          TextForm form) {
  return unpacking::unpack(RecipientBytes(trim(MailTo)), nameSpace, emailSpace, form);
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
