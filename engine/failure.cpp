#include "engine/failure.hpp"

#include <cerrno>

#include "engine/platform.hpp"

namespace tavrin {

Failure::Failure(int number, std::string description, std::string source)
    : std::runtime_error(description),
      m_number(number),
      m_description(std::move(description)),
      m_source(std::move(source)) {}

Failure invalidArgument() {
  return Failure(EINVAL, describeError(EINVAL));
}

Failure counterOverflow() {
  return Failure(EOVERFLOW, std::string("More than 2147483647 recipients: ") + describeError(EOVERFLOW))
      .endingRun();
}

Failure outOfMemory(std::string_view where) {
  std::string description = "Out of memory at ";
  description += where;
  description += ": ";
  description += describeError(ENOMEM);
  return Failure(ENOMEM, std::move(description)).endingRun();
}

Failure fileFailure(int number, std::string_view action, std::string_view words) {
  std::string description(action);
  description += ": ";
  description += words.empty() ? describeError(number) : std::string(words);
  return Failure(number, std::move(description));
}

}  // namespace tavrin
