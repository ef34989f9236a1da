#pragma once

// A deliberately literal, slow transcription of the steps of the tokenizer,
// the address unpacker, the display-name rules and a whole conversion run. It
// shares no code with the engine: texts are vectors of characters, positions
// count from 1, every search starts over from its start position, and
// CharCount recounts a candidate from its beginning on every extension. The
// engine's fast code is checked against it.

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::literal {

// One character, kept as its bytes: a well-formed UTF-8 sequence, or one byte
// that does not begin such a sequence. In the text of a UTF-16 file the three
// bytes of a lone surrogate are one character too.
using Char = std::string;
using Text = std::vector<Char>;

// Asking for a negative number of characters.
struct InvalidArgument {};

inline constexpr std::string_view kInvalidArgument = "Invalid argument";
inline constexpr int kInvalidArgumentNumber = EINVAL;
inline constexpr std::string_view kSource = "Tavrin";

// How bytes make characters: as in UTF-8, or as in the text of a UTF-16 file.
enum class Form { Utf8, FromUtf16 };

// Bytes of the sequence that begins `bytes`, by the table of well-formed UTF-8,
// with the surrogates D800 to DFFF let in (lead ED, second byte A0 to BF) for
// the text of a UTF-16 file.
inline std::size_t sequenceSize(std::string_view bytes, Form form) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (form == Form::FromUtf16 && bytes.size() >= 3 && byte(0) == 0xED && byte(1) >= 0xA0 && byte(1) <= 0xBF &&
      byte(2) >= 0x80 && byte(2) <= 0xBF) {
    return 3;
  }
  struct Form {
    unsigned char leadLow, leadHigh, secondLow, secondHigh;
    std::size_t size;
  };
  static constexpr Form kForms[] = {
      {0x00, 0x7F, 0x00, 0x00, 1}, {0xC2, 0xDF, 0x80, 0xBF, 2}, {0xE0, 0xE0, 0xA0, 0xBF, 3},
      {0xE1, 0xEC, 0x80, 0xBF, 3}, {0xED, 0xED, 0x80, 0x9F, 3}, {0xEE, 0xEF, 0x80, 0xBF, 3},
      {0xF0, 0xF0, 0x90, 0xBF, 4}, {0xF1, 0xF3, 0x80, 0xBF, 4}, {0xF4, 0xF4, 0x80, 0x8F, 4},
  };
  for (const Form& form : kForms) {
    if (byte(0) < form.leadLow || byte(0) > form.leadHigh) continue;
    if (form.size == 1) return 1;
    if (bytes.size() < form.size || byte(1) < form.secondLow || byte(1) > form.secondHigh) return 1;
    for (std::size_t i = 2; i < form.size; ++i) {
      if (byte(i) < 0x80 || byte(i) > 0xBF) return 1;
    }
    return form.size;
  }
  return 1;
}

inline Text toText(std::string_view bytes, Form form) {
  Text text;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t size = sequenceSize(bytes.substr(i), form);
    text.emplace_back(bytes.substr(i, size));
    i += size;
  }
  return text;
}

inline std::string toBytes(const Text& text) {
  std::string bytes;
  for (const Char& c : text) bytes += c;
  return bytes;
}

inline int len(const Text& text) {
  return static_cast<int>(text.size());
}

// The characters from `start` on, at most `length` of them.
inline Text mid(const Text& text, int start, int length) {
  if (length < 0) throw InvalidArgument{};
  Text part;
  for (int i = start; i <= len(text) && i < start + length; ++i) part.push_back(text[i - 1]);
  return part;
}

inline Text mid(const Text& text, int start) {
  return mid(text, start, len(text));
}

inline Text left(const Text& text, int length) {
  return mid(text, 1, length);
}

inline Text right(const Text& text, int length) {
  return length >= len(text) ? text : mid(text, len(text) - length + 1, length);
}

inline Text concat(const Text& a, const Text& b) {
  Text joined = a;
  joined.insert(joined.end(), b.begin(), b.end());
  return joined;
}

// Position of the first occurrence of `pattern` at or after `start`, or 0.
inline int inStr(int start, const Text& text, const Text& pattern) {
  if (pattern.empty()) return 0;
  for (int position = start; position + len(pattern) - 1 <= len(text); ++position) {
    bool same = true;
    for (int k = 0; k < len(pattern) && same; ++k) same = text[position - 1 + k] == pattern[k];
    if (same) return position;
  }
  return 0;
}

// Leading and trailing blanks go; nothing else does.
inline Text trim(const Text& text) {
  int first = 1;
  int last = len(text);
  while (first <= last && text[first - 1] == " ") ++first;
  while (last >= first && text[last - 1] == " ") --last;
  return mid(text, first, last - first + 1);
}

inline Text remove(const Text& text, const Char& removed) {
  Text kept;
  for (const Char& c : text) {
    if (c != removed) kept.push_back(c);
  }
  return kept;
}

inline bool IsBlank(const Text& myVar) {
  if (trim(myVar).empty()) return true;
  for (int i = 1; i <= len(myVar); ++i) {
    if (myVar[i - 1] != std::string(1, '\0')) return false;  // a code above zero
  }
  return true;
}

inline int CharCount(const Text& InString, const Text& SearchChar) {
  int count = 0;
  for (int f = inStr(1, InString, SearchChar); f > 0; f = inStr(f + 1, InString, SearchChar)) ++count;
  return count;
}

// The simple lower-case mappings of the Unicode Character Database, read
// line by line from its UnicodeData.txt: field 13 of the line of a code point.
inline const std::map<char32_t, char32_t>& lowerCaseMappings() {
  static const std::map<char32_t, char32_t> mappings = [] {
    std::ifstream file(TAVRIN_UNICODE_DATA);
    if (!file) throw std::runtime_error("cannot read " TAVRIN_UNICODE_DATA);
    std::map<char32_t, char32_t> read;
    for (std::string line; std::getline(file, line);) {
      std::vector<std::string> fields;
      std::istringstream fieldsOfLine(line);
      for (std::string field; std::getline(fieldsOfLine, field, ';');) fields.push_back(field);
      if (fields.size() > 13 && !fields[13].empty()) {
        read[static_cast<char32_t>(std::stoul(fields[0], nullptr, 16))] =
            static_cast<char32_t>(std::stoul(fields[13], nullptr, 16));
      }
    }
    return read;
  }();
  return mappings;
}

// Lower case: A to Z, and every other letter by the Unicode Character
// Database; a stray byte is no letter.
inline Char lower(const Char& c) {
  const auto byte = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(c[i])); };
  if (c.size() == 1) return byte(0) >= 'A' && byte(0) <= 'Z' ? Char(1, static_cast<char>(byte(0) + 32)) : c;
  char32_t code = byte(0) & (0x7F >> c.size());  // the lead byte's bits
  for (std::size_t i = 1; i < c.size(); ++i) code = (code << 6) | (byte(i) & 0x3F);
  const auto mapping = lowerCaseMappings().find(code);
  if (mapping == lowerCaseMappings().end()) return c;
  char32_t lower = mapping->second;
  if (lower < 0x80) return Char(1, static_cast<char>(lower));
  static constexpr unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
  const std::size_t size = lower < 0x800 ? 2 : lower < 0x10000 ? 3 : 4;
  Char bytes(size, '\0');
  for (std::size_t i = size - 1; i > 0; --i, lower >>= 6) bytes[i] = static_cast<char>(0x80 | (lower & 0x3F));
  bytes[0] = static_cast<char>(kLead[size] | lower);
  return bytes;
}

inline Text lower(const Text& text) {
  Text lowered;
  for (const Char& c : text) lowered.push_back(lower(c));
  return lowered;
}

struct Tokenized {
  std::int32_t result = 0;
  std::vector<std::string> tokens;    // what `Tokens` holds afterwards
  std::vector<std::string> warnings;  // "title: text"
};

// Whether the separator found last by a scan of the line from its start, one
// whole separator after the other, ends the working text.
inline bool endsWithFoundSeparator(const Text& work, const Text& Delimeter) {
  const int d = len(Delimeter);
  int last = 0;
  for (int f = inStr(d + 1, work, Delimeter); f > 0; f = inStr(f + d, work, Delimeter)) last = f;
  return last > 0 && last + d - 1 == len(work);
}

// For a one-character separator these are the tokenizer's steps as they
// stand. A longer separator is one whole unit: searches go on just past the
// previous separator, and the line's end counts as one more separator unless
// the line is empty or that scan found one at its very end.
inline Tokenized GetTokens(std::string_view TokenString, std::string_view Delimeter, std::string_view Quotes,
                           Form form) {
  const Text delimeter = toText(Delimeter, form);
  const Text quotes = toText(Quotes, form);
  const int d = len(delimeter);
  Tokenized outcome;
  try {
    Text work = concat(delimeter, toText(TokenString, form));  // step 2
    const int lineEnd = len(work);
    bool appended = false;
    if (d == 1) {  // step 3
      appended = right(work, 1) != delimeter;
    } else {
      appended = len(work) > d && !endsWithFoundSeparator(work, delimeter);
    }
    if (appended) work = concat(work, delimeter);
    // The separator put behind the line is a unit of its own: it never
    // completes a piece of a separator that the line ends with.
    auto next = [&](int start) {
      if (d == 1) return inStr(start, work, delimeter);
      const int found = inStr(start, left(work, lineEnd), delimeter);
      if (found > 0 || !appended) return found;
      return start <= lineEnd + 1 ? lineEnd + 1 : 0;
    };
    int p = 1;  // step 4
    int q = 1;
    while (q > 0) {                     // step 5
      q = next(q + d);                  // 5.1: q + 1 for one character
      if (!IsBlank(quotes) && q > 0) {  // 5.2
        for (;;) {
          const Text candidate = mid(work, p + d, q - p - d);
          if (CharCount(candidate, quotes) % 2 == 0) break;
          q = next(q + d);  // no test of q: 0 fails in Mid above
        }
      }
      if (q > 0) outcome.tokens.push_back(toBytes(mid(work, p + d, q - p - d)));  // 5.3
      p = q;                                                                      // 5.4
    }
    outcome.result = static_cast<std::int32_t>(outcome.tokens.size());  // step 6
  } catch (const InvalidArgument&) {
    outcome.warnings.push_back(std::string(kSource) + ": Error: " + std::string(kInvalidArgument));
    outcome.result = 0;
  }
  return outcome;
}

// Throws InvalidArgument when the text after a closing quote has fewer than
// two characters; `Name` then holds the quoted name.
inline void UnBuildMailTo(std::string_view MailTo, std::string& Name, std::string& EMail, Form form) {
  Name.clear();  // step 1
  EMail.clear();
  Text s = trim(toText(MailTo, form));  // step 2
  const int q = inStr(2, s, {"\""});
  if (q > 0) {                                       // step 3
    Name = toBytes(mid(s, 2, q - 2));                // 3.1
    const Text r = trim(mid(s, q + 1, len(s) - q));  // 3.2
    EMail = toBytes(mid(r, 2, len(r) - 2));          // 3.3 and 3.4
    return;                                          // 3.5
  }
  const int p = inStr(2, s, {"<"});
  if (p > 0) {  // step 4
    Name = toBytes(left(s, p - 1));
    s = trim(remove(mid(s, p + 1), ">"));
  }
  if (inStr(1, s, {"@"}) == 0) {  // step 5
    Name = toBytes(s);
  } else {
    EMail = toBytes(trim(remove(remove(s, "<"), ">")));
  }
}

// The display-name rules, steps 2 to 5 of the unbuild step.
inline std::string tidyDisplayName(std::string_view name, std::string_view email, Form form) {
  const Text partner = toText("Partner", form);
  Text Name = toText(name, form);
  const Text EMail = toText(email, form);
  if (const int k = inStr(1, Name, {"("}); k > 0) Name = trim(left(Name, k - 1));
  const std::pair<const char*, int> endings[] = {{"inc", 3}, {"inc.", 4}, {"corp", 4}, {"corp.", 5}};
  for (const auto& [ending, count] : endings) {
    if (lower(right(Name, count)) == toText(ending, form)) Name = partner;
  }
  if (lower(Name) == lower(EMail) || IsBlank(Name)) Name = partner;
  if (const int k = inStr(1, Name, {","}); k > 0) {
    Name = trim(concat(concat(mid(Name, k + 1), {" "}), left(Name, k - 1)));
  }
  return toBytes(Name);
}

// The first characters of a text that fit in `size` bytes.
inline Text headOf(const Text& text, std::size_t size) {
  Text head;
  for (const Char& c : text) {
    if (c.size() > size) break;
    head.push_back(c);
    size -= c.size();
  }
  return head;
}

// The code points of the categories that are not drawn as themselves (Cc,
// Cf, Zl, Zp), read from the Unicode Character Database that Debian ships.
inline const std::set<char32_t>& undrawn() {
  static const std::set<char32_t> codes = [] {
    std::set<char32_t> found;
    std::ifstream data("/usr/share/unicode/UnicodeData.txt");
    for (std::string line; std::getline(data, line);) {
      const std::size_t field = line.find(';', line.find(';') + 1);
      const std::string category = line.substr(field + 1, 2);
      if (category == "Cc" || category == "Cf" || category == "Zl" || category == "Zp")
        found.insert(static_cast<char32_t>(std::stoul(line.substr(0, line.find(';')), nullptr, 16)));
    }
    return found;
  }();
  return codes;
}

// One character as people are shown it: itself, or its code when it is not
// drawn as itself, a lone surrogate or a stray byte.
inline std::string shownChar(const Char& c) {
  const auto byte = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(c[i])); };
  char32_t code = c.size() == 1 ? byte(0) : byte(0) & (0x7F >> c.size());
  for (std::size_t i = 1; i < c.size(); ++i) code = (code << 6) | (byte(i) & 0x3F);
  char escape[16];
  if (c.size() == 1 && (code >= 0x80 || undrawn().contains(code))) {
    std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(code));
  } else if (undrawn().contains(code) || (code >= 0xD800 && code <= 0xDFFF)) {
    std::snprintf(escape, sizeof escape, code > 0xFFFF ? "\\U%08x" : "\\u%04x", static_cast<unsigned>(code));
  } else {
    return c;
  }
  return escape;
}

// A text of the input or a file name as people are shown it: its characters
// so shown, and of over 4000 bytes so shown the first 2500 and the last 1000,
// whole characters, with a mark between; all between Unicode isolates.
inline std::string shownText(std::string_view bytes, Form form) {
  std::vector<std::string> shown;
  std::size_t size = 0;
  for (const Char& c : toText(bytes, form)) {
    shown.push_back(shownChar(c));
    size += shown.back().size();
  }
  std::string head;
  std::string tail;
  if (size <= 4000) {
    for (const std::string& c : shown) head += c;
    return "\u2068" + head + "\u2069";
  }
  for (auto c = shown.begin(); head.size() + c->size() <= 2500; ++c) head += *c;
  for (auto c = shown.rbegin(); tail.size() + c->size() <= 1000; ++c) tail.insert(0, *c);
  return "\u2068" + head + " [\u2026] " + tail + "\u2069";
}

inline std::string lineReport(std::string_view line, Form form) {
  return "Error processing line: " + shownText(line, form) +
         "\r\nDescription: " + std::string(kInvalidArgument) +
         "\r\nNumber: " + std::to_string(kInvalidArgumentNumber);
}

// The tokenizer's warning in a run, which names the line and shows its start.
inline std::string openQuoteWarning(int lineNumber, std::string_view line, Form form) {
  const Text text = toText(line, form);
  const Text start = headOf(text, 60);
  return std::string(kSource) + ": Error: " + std::string(kInvalidArgument) +
         ": a quote stays open to the end of line " + std::to_string(lineNumber) + ", which begins " +
         shownText(toBytes(start), form) + (start.size() < text.size() ? "\u2026" : "");
}

struct RunOutcome {
  std::vector<std::string> separatorsSet;
  std::vector<std::string> statusTexts;
  std::vector<std::string> questions;
  std::vector<std::string> warnings;
  std::vector<std::string> said;           // the warnings and questions in the order they came
  std::vector<int> saidOnLine;             // the number of the line each of them is about
  std::vector<std::string> shownWhenSaid;  // the status text at that moment ("" before any)
  std::string output;                      // the output file's bytes
  bool stopped = false;                    // by the answer No
};

// The lines of a text: a carriage return with a line feed, a lone line feed
// and a lone carriage return each end a line; the last line needs none.
inline std::vector<std::string> lines(std::string_view text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find_first_of("\r\n", start);
    lines.emplace_back(
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
    if (end == std::string_view::npos) break;
    start = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
  }
  return lines;
}

// A whole run on the content of a UTF-8 input file (with or without its byte
// order mark), or on the text of a UTF-16 one behind a UTF-8 mark. `answer`
// gives yes (true) or No to each line report, in turn.
inline RunOutcome ConversionRun(std::string_view content, std::string_view separator, bool unbuild,
                                const std::function<bool()>& answer, Form form) {
  RunOutcome outcome;
  Text sep = trim(toText(separator, form));
  outcome.separatorsSet.push_back(toBytes(sep));
  if (IsBlank(sep)) {
    sep = toText(",", form);
    outcome.separatorsSet.push_back(",");
  }
  constexpr std::string_view kMark = "\xEF\xBB\xBF";
  const bool marked = content.starts_with(kMark);
  if (marked) content.remove_prefix(kMark.size());
  const std::vector<std::string> contentLines = lines(content);

  int tokenCounter = 0;
  bool firstRecord = true;
  auto writeLine = [&](std::string_view text) {
    if (outcome.output.empty() && marked) outcome.output = kMark;
    outcome.output += text;
    outcome.output += "\r\n";
  };
  int lineNumber = 0;
  for (const std::string& line : contentLines) {
    ++lineNumber;
    const Tokenized tokens = GetTokens(line, toBytes(sep), "\"", form);
    if (!tokens.warnings.empty()) {
      outcome.warnings.push_back(openQuoteWarning(lineNumber, line, form));
      outcome.said.push_back(outcome.warnings.back());
      outcome.saidOnLine.push_back(lineNumber);
      outcome.shownWhenSaid.push_back(outcome.statusTexts.empty() ? "" : outcome.statusTexts.back());
    }
    for (std::int32_t j = 1; j <= tokens.result; ++j) {
      const std::string& token = tokens.tokens[j - 1];
      const std::string trimmed = toBytes(trim(toText(token, form)));
      if (trimmed.empty()) continue;
      ++tokenCounter;
      // A long token shows its start: no front end shows more.
      outcome.statusTexts.push_back(std::to_string(tokenCounter) + " - " +
                                    shownText(toBytes(headOf(toText(trimmed, form), 1000)), form));
      if (!unbuild) {
        if (firstRecord) writeLine("EMail1");
        firstRecord = false;
        writeLine(trimmed);
        continue;
      }
      std::string name;
      std::string email;
      try {
        UnBuildMailTo(token, name, email, form);
      } catch (const InvalidArgument&) {
        outcome.questions.push_back(lineReport(line, form));
        outcome.said.push_back(outcome.questions.back());
        outcome.saidOnLine.push_back(lineNumber);
        outcome.shownWhenSaid.push_back(outcome.statusTexts.back());
        if (!answer()) {
          outcome.stopped = true;
          return outcome;
        }
        break;
      }
      name = tidyDisplayName(name, email, form);
      if (firstRecord) writeLine("DisplayName,EMail1");
      firstRecord = false;
      writeLine(name + "," + email);
    }
  }
  return outcome;
}

}  // namespace tavrin::literal
