#include "engine/blank.hpp"

#include "engine/text.hpp"

namespace tavrin {

bool IsBlank(std::string_view myVar) {
  if (trim(myVar).empty()) return true;
  // Every character but NUL is content, multi-byte characters included.
  for (const char c : myVar) {
    if (c != '\0') return false;
  }
  return true;
}

}  // namespace tavrin
