// UnBuildMailTo, the display-name rules and the record step against the
// literal steps; the input is the recipient text, read in both forms.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/address_unpacker.hpp"
#include "engine/failure.hpp"
#include "engine/unbuild_records.hpp"
#include "literal_steps.hpp"
#include "require.hpp"
#include "shown.hpp"

using namespace tavrin;

namespace {

void check(std::string_view recipient, bool ofUtf16) {
  const TextForm form = ofUtf16 ? TextForm::FromUtf16 : TextForm::Utf8;
  const literal::Form literalForm = ofUtf16 ? literal::Form::FromUtf16 : literal::Form::Utf8;
  const std::string about = "recipient " + shown(recipient) + (ofUtf16 ? " of a UTF-16 file" : "");
  std::string name;
  std::string email;
  bool failed = false;
  try {
    literal::UnBuildMailTo(recipient, name, email, literalForm);
  } catch (const literal::InvalidArgument&) {
    failed = true;
  }

  std::string engineName = "held before";  // the unpacker must empty both first
  std::string engineEmail = "held before";
  bool engineFailed = false;
  try {
    UnBuildMailTo(recipient, engineName, engineEmail, form);
  } catch (const Failure& failure) {
    engineFailed = true;
    require(failure.number() == literal::kInvalidArgumentNumber &&
                failure.description() == literal::kInvalidArgument,
            about + " fails with " + std::to_string(failure.number()) + " " + shown(failure.description()));
  }
  require(engineFailed == failed && engineName == name && engineEmail == email,
          about + "\n  engine:  " + (engineFailed ? "fails, " : "") + shown(engineName) + " " +
              shown(engineEmail) + "\n  literal: " + (failed ? "fails, " : "") + shown(name) + " " +
              shown(email));
  if (failed) return;

  std::string scratch;
  const std::string tidied(tidyDisplayName(engineName, engineEmail, scratch));
  const std::string expected = literal::tidyDisplayName(name, email, literalForm);
  require(tidied == expected,
          about + ": name " + shown(name) + " tidied to " + shown(tidied) + " instead of " + shown(expected));
  // The record step's own short way must give the same line.
  static UnbuildStep step;
  const std::string record(step.record(recipient, form));
  require(record == expected + "," + email,
          about + ": record " + shown(record) + " instead of " + shown(expected + "," + email));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view recipient(reinterpret_cast<const char*>(data), size);
  for (const bool ofUtf16 : {false, true}) check(recipient, ofUtf16);
  return 0;
}
