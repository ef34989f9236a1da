#pragma once

#include <string_view>

namespace tavrin {

// The separator of a list pasted from a mail's To line: Outlook writes ";"
// and leaves "Last, First <address>" unquoted, others write ",". A line with
// a ";" outside double quotes is Outlook's.
std::string_view separatorOfLine(std::string_view line);

}  // namespace tavrin
