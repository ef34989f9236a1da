#include "engine/address_unpacker.hpp"

#include "engine/failure.hpp"
#include "engine/text.hpp"

namespace tavrin {

namespace {

// `target` becomes `text` without every '>', and every '<' too when
// `alsoOpening`, trimmed.
void assignWithoutBrackets(std::string& target, std::string_view text, bool alsoOpening) {
  target.assign(trim(text));
  std::erase_if(target, [alsoOpening](char c) { return c == '>' || (alsoOpening && c == '<'); });
  const std::string_view trimmed = trim(target);
  target.erase(0, trimmed.data() - target.data());
  target.resize(trimmed.size());
}

}  // namespace

void UnBuildMailTo(std::string_view MailTo, std::string& Name, std::string& EMail) {
  Name.clear();
  EMail.clear();
  const std::string_view s = trim(MailTo);
  // The closing quote and the '<' are looked for from the second character on:
  // the first is taken as the opening quote whatever it is.
  const std::size_t second = characterAt(s, 0).size;

  const std::size_t quote = s.find('"', second);
  if (quote != std::string_view::npos) {
    Name.assign(s.substr(second, quote - second));
    const std::string_view rest = trim(s.substr(quote + 1));
    const std::size_t afterFirst = characterAt(rest, 0).size;
    if (afterFirst >= rest.size()) throw invalidArgument();  // fewer than two characters
    // Whatever stands first and last (normally '<' and '>') goes.
    const std::size_t last = lastCharacterStart(rest);
    EMail.assign(rest.substr(afterFirst, last - afterFirst));
    return;
  }

  std::string_view address = s;
  const std::size_t bracket = s.find('<', second);
  const bool bracketForm = bracket != std::string_view::npos;
  if (bracketForm) {
    Name.assign(s.substr(0, bracket));  // keeps the blanks before the '<'
    address = s.substr(bracket + 1);
  }
  if (address.find('@') == std::string_view::npos) {
    // Not an address: it is the name, replacing the text before a '<'.
    if (bracketForm) {
      assignWithoutBrackets(Name, address, false);
    } else {
      Name.assign(address);
    }
    return;
  }
  assignWithoutBrackets(EMail, address, true);
}

}  // namespace tavrin
