#include "cli/printable.hpp"

#include "engine/text.hpp"

namespace tavrin {

std::string printable(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t offset = 0; offset < text.size();) {
    const Character c = characterAt(text, offset, TextForm::Utf8);
    if (text.substr(offset).starts_with("\r\n")) {
      shown += '\n';
      offset += 2;
      continue;
    }
    const bool control = c.code < 0x20 || (c.code >= 0x7F && c.code < 0xA0);
    if (control || !c.wellFormed) {
      constexpr char kDigits[] = "0123456789abcdef";
      for (std::size_t i = 0; i < c.size; ++i) {
        const auto b = static_cast<unsigned char>(text[offset + i]);
        shown += "\\x";
        shown += kDigits[b >> 4];
        shown += kDigits[b & 0xF];
      }
    } else {
      shown.append(text, offset, c.size);
    }
    offset += c.size;
  }
  return shown;
}

}  // namespace tavrin
