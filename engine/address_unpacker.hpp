#pragma once

#include <string>
#include <string_view>

namespace tavrin {

// Divides a recipient text into display name and address. Three shapes:
// "Name" <address> (quoted), Name <address> (bracket) and a bare text, which
// is an address when it holds an at sign and a name otherwise. Both out-texts
// are emptied first. A quoted name with fewer than two characters after it
// raises the invalid-argument failure.
void UnBuildMailTo(std::string_view MailTo, std::string& Name, std::string& EMail);

}  // namespace tavrin
