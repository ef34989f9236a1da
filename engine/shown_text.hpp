#pragma once

#include <string>
#include <string_view>

#include "engine/text.hpp"

namespace tavrin {

// A text of the input, or a file name, as every front end shows it to a
// person: in a message box, a status bar or a line of text. Such a text may
// hold anything; shown so, it cannot pass for the program's own words, break
// their lines, reorder them, hide in them or steer what shows it.
// - It stands between U+2068 FIRST STRONG ISOLATE and U+2069 POP DIRECTIONAL
//   ISOLATE: its direction neither takes nor gives that of the words around it.
// - A character that is not drawn as itself is shown by its code: controls
//   (C0, DEL, C1 with NEL), format characters (the zero-width ones, the bidi
//   embeddings, overrides, isolates and marks), the line and paragraph
//   separators, and the lone surrogates of the text of a UTF-16 file (whose
//   form says so; a file name's is TextForm::Utf8). Below U+0080 as
//   \xNN (\x1b for ESC), then as \uNNNN (\u2028), beyond U+FFFF as
//   \UNNNNNNNN. A byte that is no UTF-8 character is shown as \xNN too.
// - Shown so, a text longer than 4000 bytes is cut to its first 2500 and its
//   last 1000 bytes, whole characters, with " […] " between.
std::string shownText(std::string_view text, TextForm form);

// The text with what shownText escapes escaped, and nothing more: for a word
// of the command line that is quoted back, such as an unknown option.
std::string escapedText(std::string_view text);

}  // namespace tavrin
