#pragma once

namespace tavrin {

// The columns that a character takes on a terminal, by the Unicode data, the
// same on every system and in every locale.
int columnsOf(char32_t code);

}  // namespace tavrin
