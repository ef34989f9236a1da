#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace tavrin {

inline constexpr std::string_view kFailureSource = "Tavrin";

// The one failure type of the engine: a number and a description taken from
// the operating system (errno and its message), and the component that raised it.
class Failure : public std::runtime_error {
 public:
  Failure(int number, std::string description, std::string source = std::string(kFailureSource));

  int number() const { return m_number; }
  const std::string& description() const { return m_description; }
  const std::string& source() const { return m_source; }

  // Whether no answer of the user can let the run go on: the input cannot
  // be read, the output refuses all data, memory or the count ran out.
  bool endsRun() const { return m_endsRun; }
  Failure& endingRun() {
    m_endsRun = true;
    return *this;
  }

 private:
  int m_number;
  std::string m_description;
  std::string m_source;
  bool m_endsRun = false;
};

// Asking for a negative number of characters, and the unpacker's and the
// tokenizer's refusals that stem from it.
Failure invalidArgument();
// The token counter went beyond the largest 32-bit number; it ends the run.
Failure counterOverflow();
// Memory could not be had (std::bad_alloc) for `where`, as in: line 3 of
// the input file "in.txt"; it ends the run.
Failure outOfMemory(std::string_view where);
// A file operation failed with errno `number`; `action` says what was tried
// on which file, as in: Cannot open the input file "in.txt". `words` say why,
// when the system's own say it better than the number's.
Failure fileFailure(int number, std::string_view action, std::string_view words = {});

}  // namespace tavrin
