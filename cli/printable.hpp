#pragma once

#include <string>
#include <string_view>

namespace tavrin {

// Texts from the input and file names may hold anything; a control character
// must not steer the terminal, so it is shown as \xNN. The reports' CR LF
// pairs become plain line ends.
std::string printable(std::string_view text);

}  // namespace tavrin
