#include "engine/csv_field.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "engine/byte_scan.hpp"

namespace tavrin {

namespace {

bool startsAsFormula(std::string_view field) {
  if (field.empty()) return false;
  switch (field.front()) {
    case '=':
    case '+':
    case '-':
    case '@':
    case '\t':
    case '\r':
      return true;
    default:
      return false;
  }
}

constexpr char kQuotedBytes[4] = {'"', ',', '\r', '\n'};

// Bit i for byte i of a field of at most 64 bytes: its double quotes, and
// every byte that makes it need quotes.
struct Marks {
  std::uint64_t quotes;
  std::uint64_t needingQuotes;
};
Marks marksOf(std::string_view field) {
  std::uint64_t masks[4];
  blockScanner().eachOfFour(field.data(), field.size(), kQuotedBytes, masks);
  return {masks[0], masks[0] | masks[1] | masks[2] | masks[3]};
}

bool needsQuotes(std::string_view field) {
  if (field.size() <= kBlockSize) return marksOf(field).needingQuotes != 0;
  return field.find_first_of(std::string_view(kQuotedBytes, 4)) != std::string_view::npos;
}

// Copies a short text a word at a time, writing up to seven bytes past it.
char* copyWords(char* out, const char* from, std::size_t size) {
  for (std::size_t at = 0; at < size; at += 8) {
    const std::uint64_t word = loadUpTo8(from + at, size - at);
    std::memcpy(out + at, &word, 8);
  }
  return out + size;
}

// Copies a field of at most 64 bytes with its double quotes doubled.
char* copyDoublingQuotes(char* out, std::string_view field, std::uint64_t quotes) {
  std::size_t from = 0;
  for (; quotes != 0; quotes &= quotes - 1) {
    const std::size_t quote = static_cast<std::size_t>(std::countr_zero(quotes));
    out = copyWords(out, field.data() + from, quote + 1 - from);
    *out++ = '"';
    from = quote + 1;
  }
  return copyWords(out, field.data() + from, field.size() - from);
}

}  // namespace

bool needsCsvChange(std::string_view field) {
  return startsAsFormula(field) || needsQuotes(field);
}

char* writeCsvField(char* out, std::string_view field) {
  const bool formula = startsAsFormula(field);
  const bool quoted = needsQuotes(field);
  if (quoted) *out++ = '"';
  if (formula) *out++ = '\'';
  if (!quoted)
    return field.size() <= kBlockSize ? copyWords(out, field.data(), field.size())
                                      : std::copy(field.begin(), field.end(), out);
  while (field.size() > kBlockSize) {
    const std::string_view part = field.substr(0, kBlockSize);
    out = copyDoublingQuotes(out, part, marksOf(part).quotes);
    field.remove_prefix(kBlockSize);
  }
  out = copyDoublingQuotes(out, field, marksOf(field).quotes);
  *out++ = '"';
  return out;
}

void appendCsvField(std::string& line, std::string_view field) {
  const std::size_t start = line.size();
  line.resize(start + csvRoomFor(field.size()));
  line.resize(static_cast<std::size_t>(writeCsvField(line.data() + start, field) - line.data()));
}

}  // namespace tavrin
