#include "engine/separator_choice.hpp"

namespace tavrin {

std::string_view separatorOfLine(std::string_view line) {
  bool quoted = false;
  for (const char c : line) {
    if (c == '"') quoted = !quoted;
    if (c == ';' && !quoted) return ";";
  }
  return ",";
}

}  // namespace tavrin
