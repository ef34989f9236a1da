#include "engine/failure.hpp"

#include <cerrno>
#include <cstring>

namespace tavrin {

Failure::Failure(int number, std::string description, std::string source)
    : std::runtime_error(description),
      m_number(number),
      m_description(std::move(description)),
      m_source(std::move(source)) {}

Failure invalidArgument() {
  return Failure(EINVAL, std::strerror(EINVAL));
}

Failure counterOverflow() {
  return Failure(EOVERFLOW, std::strerror(EOVERFLOW));
}

Failure outOfMemory() {
  return Failure(ENOMEM, std::strerror(ENOMEM));
}

Failure fileFailure(int number, std::string_view action) {
  std::string description(action);
  description += ": ";
  description += std::strerror(number);
  return Failure(number, std::move(description));
}

}  // namespace tavrin
