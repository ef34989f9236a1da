#include "engine/blank.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrin {
namespace {

TEST(IsBlank, EmptySpacesOnlyOrNulOnly) {
  struct Case {
    std::string text;
    bool blank;
  };
  const std::vector<Case> cases = {
      {"", true},
      {" ", true},
      {"   ", true},
      {std::string(1, '\0'), true},
      {std::string(3, '\0'), true},
      {"\t", false},
      {std::string(" \0", 2), false},  // a space counts as content beside NUL
      {std::string("\0 \0", 3), false},
      {"a", false},
      {" a ", false},
      {"\"", false},
      {",", false},
      {"\xE4\xB8\xAD", false},  // a multi-byte character is content
      {"\xC2\xA0", false},      // so is a no-break space
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.text));
    EXPECT_EQ(IsBlank(c.text), c.blank);
  }
}

}  // namespace
}  // namespace tavrin
