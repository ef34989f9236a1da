#pragma once

#include <string>
#include <string_view>

#include "engine/text.hpp"

namespace tavrin {

// Divides a recipient text into display name and address. Three shapes:
// "Name" <address> (quoted), Name <address> (bracket) and a bare text, which
// is an address when it holds an at sign and a name otherwise. Both out-texts
// are emptied first. A quoted name with fewer than two characters after it
// raises the invalid-argument failure.
void UnBuildMailTo(std::string_view MailTo, std::string& Name, std::string& EMail, TextForm form);

// What UnBuildMailTo makes of a recipient text, as views: parts of the text
// itself where they can be, else of `nameSpace` and `emailSpace`, where the
// brackets taken out leave a new text. `refused` stands for the failure.
struct Recipient {
  std::string_view name;
  std::string_view email;
  bool refused = false;
};
Recipient unpackRecipient(std::string_view MailTo, std::string& nameSpace, std::string& emailSpace,
                          TextForm form);

}  // namespace tavrin
