#pragma once

#include <string>
#include <string_view>

namespace tavrin {

// A field of a CSV output as the tools that import one take it: a field that
// holds a comma, a double quote, a carriage return or a line feed stands in
// double quotes with its own quotes doubled, and one that begins as a
// spreadsheet formula would (=, +, -, @, a tab or a carriage return) gets a
// ' in front first, so that it stays text.
bool needsCsvChange(std::string_view field);
// Writes the field as CSV wants it at `out`, which has csvRoomFor its size:
// twice its bytes, three more, and eight that may be written past the end it
// gives.
char* writeCsvField(char* out, std::string_view field);
inline constexpr std::size_t csvRoomFor(std::size_t size) {
  return 2 * size + 3 + 8;
}
void appendCsvField(std::string& line, std::string_view field);

}  // namespace tavrin
