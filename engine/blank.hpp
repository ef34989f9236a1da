#pragma once

#include <string_view>

namespace tavrin {

// A text is blank when it is empty, all spaces, or all NUL characters. A mix
// of both is not, nor is a tab.
bool IsBlank(std::string_view myVar);

}  // namespace tavrin
