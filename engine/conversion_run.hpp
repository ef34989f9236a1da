#pragma once

#include <string>
#include <string_view>

#include "engine/run_host.hpp"
#include "engine/text.hpp"

namespace tavrin {

class Failure;

inline constexpr std::string_view kPlainHeader = "EMail1";
inline constexpr std::string_view kDefaultSeparator = ",";

// Converts the input file that the host names into its output file, one
// record line for every non-blank token, and reports every outcome through the
// host: no failure passes out. Until the first line has been read a failure
// ends the run with the run report; after that the line report asks whether to
// go on with the next line.
void ConversionRun(RunHost& host);

// Removes what stands at this name when a run would replace it (see
// decideOutput): a file of the user's, or a link to a file or to nothing.
// Every failure is ignored. The run does not call it: it takes the same
// decision and calls removeOldOutput itself, and reports what it refuses and
// what it cannot remove.
void DeleteFile(std::string_view FileName);

std::string runReport(const Failure& failure);
// Quotes the line as shownText gives it.
std::string lineReport(std::string_view shownLine, const Failure& failure);

}  // namespace tavrin
