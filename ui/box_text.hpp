#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace tavrin {

// A message box lays its text out as it comes, and grows with it: a line
// of the input without a blank, or many short lines, would put its buttons
// off the screen. Fitted, the text is at most `lines` lines of at most
// `width` each: a wider line is broken after its last blank or before its
// last backslash that fits, where it has one, else between two characters;
// and of more lines, those in the
// middle give way to a mark, so that the start of a report and its closing
// lines stay. `widthOf` measures one character in the box's font; the text's
// lines end in CR LF or LF, the fitted text's in LF.
std::string fitBoxText(std::string_view text, int width, int lines,
                       const std::function<int(std::string_view character)>& widthOf);

}  // namespace tavrin
