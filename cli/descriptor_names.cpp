#include "cli/descriptor_names.hpp"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "cli/options.hpp"
#include "cli/terminal.hpp"
#include "engine/shown_text.hpp"

namespace tavrin {

FileHandle handleNamed(const std::string& name, int standard, const Inherited& inherited) {
  if (name != "-" && !hasDescriptorNames()) return kNoFile;
  int fd = name == "-" ? standard : -1;
  if (name == "/dev/stdin") fd = 0;
  if (name == "/dev/stdout") fd = 1;
  if (name == "/dev/stderr") fd = 2;
  for (const std::string_view folder : {"/dev/fd/", "/proc/self/fd/"}) {
    if (!name.starts_with(folder)) continue;
    const std::string_view digits = std::string_view(name).substr(folder.size());
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), fd);
    if (error != std::errc() || end != digits.data() + digits.size() || digits.starts_with('+'))
      return kNoFile;
  }
  if (fd >= 0 && fd <= 2 && inherited.closedAtStart[static_cast<std::size_t>(fd)]) {
    constexpr std::string_view kStandardNames[] = {"standard input", "standard output", "standard error"};
    throw UsageError{"'" + shownText(name, TextForm::Utf8) + "' names " + std::string(kStandardNames[fd]) +
                         ", which was closed when tavrin-cli started",
                     false};
  }
  if (fd == 0) return inherited.input;
  if (fd == 1) return inherited.output;
  if (fd < 0) return kNoFile;
  const auto& open = inherited.descriptors;
  if (std::find(open.begin(), open.end(), fd) == open.end())
    throw UsageError{"'" + shownText(name, TextForm::Utf8) +
                     "' names no descriptor that tavrin-cli was started with"};
  return fd;
}

}  // namespace tavrin
