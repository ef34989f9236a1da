// A whole run in both modes on a file that holds the fuzz input after its
// first byte, compared with the literal steps; the input file must come out
// unchanged. The first byte chooses the separator and whether line reports
// are answered Yes or No. A UTF-16 file is compared through its text.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/conversion_run.hpp"
#include "literal_steps.hpp"
#include "recording_host.hpp"
#include "require.hpp"
#include "shown.hpp"
#include "temp_dir.hpp"

using namespace tavrin;

namespace {

constexpr std::string_view kSeparators[] = {",", ";", "\t", "::", " ", "", "\"", "\xC3\xA9"};

// UTF-16 to UTF-8; a surrogate without its partner becomes a three-byte
// sequence of its own, and an odd byte at the end is left over.
std::string fromUtf16(std::string_view bytes, bool little, bool& oddByte) {
  auto unitAt = [&](std::size_t i) -> char32_t {
    const auto first = static_cast<unsigned char>(bytes[i]);
    const auto second = static_cast<unsigned char>(bytes[i + 1]);
    return little ? first | second << 8 : first << 8 | second;
  };
  std::string text;
  std::size_t i = 0;
  for (; i + 2 <= bytes.size(); i += 2) {
    char32_t code = unitAt(i);
    if (code >= 0xD800 && code <= 0xDBFF && i + 4 <= bytes.size() && unitAt(i + 2) >= 0xDC00 &&
        unitAt(i + 2) <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (unitAt(i + 2) - 0xDC00);
      i += 2;
    }
    if (code < 0x80) {
      text += static_cast<char>(code);
    } else if (code < 0x800) {
      text += {static_cast<char>(0xC0 | code >> 6), static_cast<char>(0x80 | (code & 0x3F))};
    } else if (code < 0x10000) {
      text += {static_cast<char>(0xE0 | code >> 12), static_cast<char>(0x80 | (code >> 6 & 0x3F)),
               static_cast<char>(0x80 | (code & 0x3F))};
    } else {
      text += {static_cast<char>(0xF0 | code >> 18), static_cast<char>(0x80 | (code >> 12 & 0x3F)),
               static_cast<char>(0x80 | (code >> 6 & 0x3F)), static_cast<char>(0x80 | (code & 0x3F))};
    }
  }
  oddByte = i < bytes.size();
  return text;
}

// UTF-8 that came from UTF-16 back to UTF-16.
std::string toUtf16(std::string_view text, bool little) {
  std::string bytes;
  auto put = [&](char32_t unit) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    bytes += little ? std::string{low, high} : std::string{high, low};
  };
  for (const literal::Char& c : literal::toText(text, literal::Form::FromUtf16)) {
    const auto lead = static_cast<unsigned char>(c[0]);
    char32_t code = c.size() == 1 ? lead : lead & (0xFF >> (c.size() + 1));
    for (std::size_t k = 1; k < c.size(); ++k) code = code << 6 | (static_cast<unsigned char>(c[k]) & 0x3F);
    if (code >= 0x10000) {
      put(0xD800 + ((code - 0x10000) >> 10));
      put(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      put(code);
    }
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const TempDir dir;
  const auto control = static_cast<unsigned char>(data[0]);
  const std::string content(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string_view separator = kSeparators[control % std::size(kSeparators)];
  const bool answer = (control & 0x80) == 0;
  const std::string input = dir.write("in.txt", content);

  const bool little = content.starts_with("\xFF\xFE");
  const bool utf16 = little || content.starts_with("\xFE\xFF");
  bool oddByte = false;
  const std::string text = utf16 ? fromUtf16(std::string_view(content).substr(2), little, oddByte) : content;

  // A UTF-16 text goes to the literal run behind a UTF-8 mark, so that a
  // U+FEFF at its start stays text; the mark comes off the output again.
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  for (const bool unbuild : {false, true}) {
    literal::RunOutcome expected = literal::ConversionRun(
        utf16 ? std::string(kUtf8Mark) + text : text, separator, unbuild, [answer] { return answer; },
        utf16 ? literal::Form::FromUtf16 : literal::Form::Utf8);
    std::vector<std::string> messages;
    const std::string outputName = dir.file("out.txt");
    if (oddByte && !expected.stopped) {
      // The report says how many records the output holds: its lines after the header.
      std::size_t lines = 0;
      for (std::size_t at = 0; (at = expected.output.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
      const std::size_t records = lines > 0 ? lines - 1 : 0;
      messages.push_back(
          "Cannot read line " + std::to_string(literal::lines(text).size() + 1) + " of the input file \"" +
          isolated(input) +
          "\", which ends in half a character: Invalid or incomplete multibyte or wide character(84)"
          "\r\nThe output file \"" +
          isolated(outputName) + "\" holds " +
          (records == 1 ? "1 record" : std::to_string(records) + " records") + ".");
    }
    if (utf16 && !expected.output.empty()) {
      expected.output =
          (little ? "\xFF\xFE" : "\xFE\xFF") + toUtf16(expected.output.substr(kUtf8Mark.size()), little);
    }

    RecordingHost host;
    host.separator = separator;
    host.unbuild = unbuild;
    host.answers.assign(8, answer);
    host.inputFileName = input;
    host.outputFileName = outputName;
    ConversionRun(host);
    const std::string output = readFile(host.outputFileName);

    require(readFile(input) == content, "the input changed");
    require(output == expected.output && host.statusTexts == expected.statusTexts &&
                host.questions == expected.questions && host.warnings == expected.warnings &&
                host.messages == messages,
            "input " + shown(content) + ", separator " + shown(separator) + (unbuild ? ", unbuild" : "") +
                (answer ? "" : ", No") + "\n  engine:  " + shown(output) + " status " +
                shown(host.statusTexts) + " questions " + shown(host.questions) + " warnings " +
                shown(host.warnings) + " messages " + shown(host.messages) +
                "\n  literal: " + shown(expected.output) + " status " + shown(expected.statusTexts) +
                " questions " + shown(expected.questions) + " warnings " + shown(expected.warnings) +
                " messages " + shown(messages));
  }
  return 0;
}
