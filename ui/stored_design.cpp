#include "ui/stored_design.hpp"

#include <algorithm>

namespace tavrin {

std::vector<StoredControl> inTabOrder() {
  std::vector<StoredControl> controls(kStoredDesign.begin(), kStoredDesign.end());
  std::ranges::sort(controls, {}, &StoredControl::tabIndex);
  return controls;
}

const StoredControl* labelOf(std::string_view name) {
  const auto label = std::ranges::find(kStoredDesign, name, &StoredControl::labelled);
  return label != kStoredDesign.end() ? &*label : nullptr;
}

}  // namespace tavrin
