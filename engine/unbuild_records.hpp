#pragma once

#include <string>
#include <string_view>

namespace tavrin {

class TextWriter;

inline constexpr std::string_view kUnbuildHeader = "DisplayName,EMail1";
inline constexpr std::string_view kGenericName = "Partner";

// The display-name rules, in order: cut a parenthesised tail; a company name
// (ending in inc, inc., corp or corp.), a blank name or one that repeats the
// address becomes "Partner"; "Last, First" becomes "First Last". The result is
// a view of `name`, of `scratch` or of a constant.
std::string_view tidyDisplayName(std::string_view name, std::string_view email, std::string& scratch);

// The unbuild-mode record step. It keeps its texts from token to token so
// that the hot path allocates only while they grow.
class UnbuildStep {
 public:
  // Unpacks `token` (trimmed or not: the unpacker trims it first), tidies the
  // name and writes the record line, with the header line first while
  // `firstRecord` is true.
  void write(std::string_view token, TextWriter& output, bool& firstRecord);

 private:
  std::string m_name;  // room for a name or address that is no part of the token
  std::string m_email;
  std::string m_scratch;
};

}  // namespace tavrin
