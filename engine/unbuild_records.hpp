#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/byte_scan.hpp"
#include "engine/text.hpp"
#include "engine/text_file.hpp"

namespace tavrin {

inline constexpr std::string_view kUnbuildHeader = "DisplayName,EMail1";

// A tidied display name: one text, or two with a blank between when a name
// written "Last, First" was turned round; views of the name or of a constant.
struct DisplayName {
  std::string_view first;
  std::string_view blank = {};  // " " between the two, else empty
  std::string_view last = {};
};

// The display-name rules, in order: cut a parenthesised tail; a company name
// (ending in inc, inc., corp or corp.), a blank name or one that repeats the
// address becomes "Partner"; "Last, First" becomes "First Last".
DisplayName tidyDisplayName(std::string_view name, std::string_view email);
// The same as one text: a view of `name`, of `scratch` or of a constant.
std::string_view tidyDisplayName(std::string_view name, std::string_view email, std::string& scratch);

// The unbuild-mode record step. It keeps its texts from token to token so
// that the hot path allocates only while they grow.
class UnbuildStep {
 public:
  // The record line of `token` (trimmed or not: the unpacker trims it first),
  // the tidied name, a comma and the address: valid until the next call. The
  // run writes a record with write, which gives the same line, and takes it
  // from here only when its options treat it further.
  std::string_view record(std::string_view token, TextForm form);
  // Writes the record line of a trimmed recipient, with the header line
  // first while `firstRecord` is true.
  void write(std::string_view recipient, TextWriter& output, bool& firstRecord, TextForm form);

  // The record of a trimmed recipient in parts, for an output that treats
  // its fields further: views valid until the next call.
  struct General {
    DisplayName name;
    std::string_view email;
  };
  General generalRecord(std::string_view recipient, TextForm form);

 private:
  std::size_t shortRecord(std::string_view recipient, LineRoom room, TextForm form);
  std::size_t offsetInBlock(std::string_view part) const;
  char* copyPart(char* out, std::string_view part) const;

  std::string m_name;  // room for a name or address that is no part of the token
  std::string m_email;
  std::string m_record;
  // Taken once: the token loop then finds it without a check.
  const BlockScanner& m_scanner = blockScanner();
  // A short recipient's bytes, and room for a whole block to be read from
  // where any part of them begins.
  alignas(64) char m_block[2 * kBlockSize] = {};
  // Its record line, when the output has no room for it in place.
  LineStore m_line;
};

}  // namespace tavrin
