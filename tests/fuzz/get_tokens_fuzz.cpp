// GetTokens against the literal steps. The first byte chooses the length of
// the separator (1 to 4 bytes, which follow it), the quote text and the form
// of the text; the rest is the line.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/tokenizer.hpp"
#include "literal_steps.hpp"
#include "recording_host.hpp"
#include "require.hpp"
#include "shown.hpp"

using namespace tavrin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.empty()) return 0;
  const auto control = static_cast<unsigned char>(input[0]);
  const std::size_t separatorSize = 1 + control % 4;
  if (input.size() < 1 + separatorSize) return 0;
  static constexpr std::string_view kQuotes[] = {"\"", "", "'", "\"\""};
  const std::string_view quotes = kQuotes[control / 4 % 4];
  const bool ofUtf16 = control / 16 % 2 != 0;  // the text of a UTF-16 file
  const std::string_view separator = input.substr(1, separatorSize);
  const std::string_view line = input.substr(1 + separatorSize);

  RecordingHost host;
  TokenList list;
  const std::int32_t result =
      GetTokens(line, separator, list, quotes, host, ofUtf16 ? TextForm::FromUtf16 : TextForm::Utf8);
  std::vector<std::string> tokens;
  list.forEach([&](std::string_view token) { tokens.emplace_back(token); });

  const literal::Tokenized expected =
      literal::GetTokens(line, separator, quotes, ofUtf16 ? literal::Form::FromUtf16 : literal::Form::Utf8);
  require(result == expected.result && tokens == expected.tokens && host.warnings == expected.warnings,
          "line " + shown(line) + ", separator " + shown(separator) + ", quotes " + shown(quotes) +
              (ofUtf16 ? " of a UTF-16 file" : "") + "\n  engine:  " + std::to_string(result) + " " +
              shown(tokens) + " " + shown(host.warnings) + "\n  literal: " + std::to_string(expected.result) +
              " " + shown(expected.tokens) + " " + shown(expected.warnings));

  // Nothing is lost: the tokens with a separator between each two make up
  // the line, or the line without the separator that ends it.
  if (host.warnings.empty()) {
    std::string joined;
    for (std::size_t i = 0; i < tokens.size(); ++i)
      joined += (i > 0 ? std::string(separator) : "") + tokens[i];
    require(joined == line || joined + std::string(separator) == line,
            "line " + shown(line) + " is not made of its tokens " + shown(tokens));
  }
  return 0;
}
