#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin {

// The bytes as a C++ string literal, so that a text that shows a fault can be
// pasted into a test.
inline std::string shown(std::string_view bytes) {
  std::string shown = "\"";
  bool afterEscape = false;  // a hex digit right after \x.. would join the escape
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    const bool hexDigit =
        (byte >= '0' && byte <= '9') || (byte >= 'a' && byte <= 'f') || (byte >= 'A' && byte <= 'F');
    if (byte < 0x20 || byte >= 0x7F || (afterEscape && hexDigit)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      shown += escape;
      afterEscape = true;
      continue;
    }
    if (byte == '"' || byte == '\\') shown += '\\';
    shown += c;
    afterEscape = false;
  }
  return shown + "\"";
}

// A text of the input or a file name as the program shows it, for one that
// holds nothing to escape: between Unicode isolates.
inline std::string isolated(std::string_view text) {
  return "\u2068" + std::string(text) + "\u2069";
}

inline std::string shown(const std::vector<std::string>& texts) {
  std::string out = "{";
  for (const std::string& text : texts) out += (out.size() > 1 ? ", " : "") + shown(text);
  return out + "}";
}

}  // namespace tavrin
