#include "engine/unbuild_records.hpp"

#include "engine/address_unpacker.hpp"
#include "engine/blank.hpp"
#include "engine/text.hpp"
#include "engine/text_file.hpp"

namespace tavrin {

std::string_view TidyDisplayName(std::string_view name, std::string_view email, std::string& scratch) {
  if (const std::size_t bracket = name.find('('); bracket != std::string_view::npos) {
    name = Trim(name.substr(0, bracket));
  }
  // Each company test looks at the name that the test before left.
  for (const std::string_view ending : {"inc", "inc.", "corp", "corp."}) {
    if (EndsWithIgnoringCase(name, ending)) name = kGenericName;
  }
  if (EqualsIgnoringCase(name, email) || IsBlank(name)) name = kGenericName;
  if (const std::size_t comma = name.find(','); comma != std::string_view::npos) {
    scratch.assign(name.substr(comma + 1));
    scratch += ' ';
    scratch.append(name.substr(0, comma));
    name = Trim(scratch);
  }
  return name;
}

void UnbuildStep::Write(std::string_view token, TextWriter& output, bool& firstRecord) {
  UnBuildMailTo(token, m_name, m_email);
  const std::string_view name = TidyDisplayName(m_name, m_email, m_scratch);
  if (firstRecord) output.WriteLine({kUnbuildHeader});
  firstRecord = false;
  output.WriteLine({name, ",", m_email});
}

}  // namespace tavrin
