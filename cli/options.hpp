#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/conversion_run.hpp"

namespace tavrin {

enum class LineErrorPolicy { Ask, Continue, Stop };

// The separator text that asks for the separator of the input's first line.
inline constexpr std::string_view kSeparatorFromInput = "auto";

struct Options {
  std::string separator = std::string(kDefaultSeparator);
  bool unbuild = false;
  bool csv = false;
  bool unique = false;
  bool byteOrderMark = false;
  bool summary = false;
  std::optional<LineErrorPolicy> onLineError;
  bool quiet = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> files;
};

// A command line that cannot be taken, in the words that GNU programs use.
struct UsageError {
  std::string message;
  bool suggestsHelp = true;
};

extern const std::string_view kHelp;

// The options, as GNU programs take them: short ones alone or together
// (-uq, -s';', -s ';'), long ones as --name=value or --name value, and any
// unambiguous start of a long name (--sep). Options and file names may come
// in any order; "--" ends the options, and "-" is a file name. Throws
// UsageError.
Options parseOptions(const std::vector<std::string>& args);

}  // namespace tavrin
