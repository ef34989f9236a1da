// UnBuildMailTo, the display-name rules and the record step against the
// literal steps; the input is the recipient text.

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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view recipient(reinterpret_cast<const char*>(data), size);

  std::string name;
  std::string email;
  bool failed = false;
  try {
    literal::UnBuildMailTo(recipient, name, email);
  } catch (const literal::InvalidArgument&) {
    failed = true;
  }

  std::string engineName = "held before";  // the unpacker must empty both first
  std::string engineEmail = "held before";
  bool engineFailed = false;
  try {
    UnBuildMailTo(recipient, engineName, engineEmail);
  } catch (const Failure& failure) {
    engineFailed = true;
    require(failure.number() == literal::kInvalidArgumentNumber &&
                failure.description() == literal::kInvalidArgument,
            "recipient " + shown(recipient) + " fails with " + std::to_string(failure.number()) + " " +
                shown(failure.description()));
  }
  require(engineFailed == failed && engineName == name && engineEmail == email,
          "recipient " + shown(recipient) + "\n  engine:  " + (engineFailed ? "fails, " : "") +
              shown(engineName) + " " + shown(engineEmail) + "\n  literal: " + (failed ? "fails, " : "") +
              shown(name) + " " + shown(email));
  if (failed) return 0;

  std::string scratch;
  const std::string tidied(tidyDisplayName(engineName, engineEmail, scratch));
  const std::string expected = literal::tidyDisplayName(name, email);
  require(tidied == expected, "recipient " + shown(recipient) + ": name " + shown(name) + " tidied to " +
                                  shown(tidied) + " instead of " + shown(expected));
  // The record step's own short way must give the same line.
  static UnbuildStep step;
  const std::string record(step.record(recipient));
  require(record == expected + "," + email, "recipient " + shown(recipient) + ": record " + shown(record) +
                                                " instead of " + shown(expected + "," + email));
  return 0;
}
