#include "engine/blank.hpp"

#include "engine/text.hpp"

namespace tavrin {

bool IsBlank(std::string_view myVar) {
  if (Trim(myVar).empty()) return true;
  // Every character but NUL is content, multi-byte characters included.
  return myVar.find_first_not_of('\0') == std::string_view::npos;
}

}  // namespace tavrin
