#include "engine/tokenizer.hpp"

#include <bit>
#include <cstring>
#include <limits>
#include <string>

#include "engine/blank.hpp"
#include "engine/failure.hpp"
#include "engine/run_host.hpp"
#include "engine/text.hpp"

namespace tavrin {

namespace {

// Counts the quotes of each candidate token. The occurrences of the quote text
// are found once for the whole line, left to right, since candidates only move
// forward and only grow: a quote left open over a million separators, or a
// line of a thousand tokens without any quote, takes time linear in the line.
class QuoteCounter {
 public:
  QuoteCounter(const TextFinder& quote, std::string_view line)
      : m_quote(quote), m_line(line), m_next(quote.findIn(line, 0)) {}

  void startCandidate(std::size_t start) {
    m_start = start;
    m_count = 0;
  }

  // Whether the candidate from its start up to `end` holds an odd number of quotes.
  bool isOddUpTo(std::size_t end) {
    while (m_next != kNotFound && m_next + m_quote.size() <= end) {
      if (m_next >= m_start) ++m_count;
      m_next = m_quote.findIn(m_line, m_next + characterAt(m_line, m_next).size);  // occurrences may overlap
    }
    return m_count % 2 != 0;
  }

 private:
  const TextFinder& m_quote;
  std::string_view m_line;
  std::size_t m_next;  // the first occurrence not yet counted
  std::size_t m_start = 0;
  std::size_t m_count = 0;
};

}  // namespace

void TokenList::reset(std::string_view line, std::size_t separatorSize) {
  m_line = line;
  m_separatorSize = separatorSize;
  m_ends.clear();
}

std::int32_t CharCount(std::string_view InString, std::string_view SearchChar) {
  const TextFinder finder(SearchChar);
  std::int32_t count = 0;
  for (std::size_t found = finder.findIn(InString, 0); found != kNotFound;
       found = finder.findIn(InString, found + characterAt(InString, found).size)) {
    ++count;
  }
  return count;
}

namespace {

bool isAsciiCharacter(std::string_view text) {
  return text.size() == 1 && static_cast<unsigned char>(text[0]) < 0x80;
}

// Bytes of `word` equal to `byte` get their high bit set, and no others.
std::uint64_t matchingBytes(std::uint64_t word, char byte) {
  constexpr std::uint64_t kLowBits = 0x7F7F7F7F7F7F7F7F;
  const std::uint64_t x = word ^ (0x0101010101010101 * static_cast<unsigned char>(byte));
  return ~(((x & kLowBits) + kLowBits) | x | kLowBits);
}

// Eight bytes with the first in the lowest bits, on any machine.
std::uint64_t loadLittleEndian(const char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// The usual case, one ASCII separator and one ASCII quote character, in a
// single pass: a separator ends a token when the quotes since the token began
// are even, and the line's end ends the last one. Eight bytes are looked at a
// time, since most of them are neither.
void splitAtCharacter(std::string_view line, char separator, char quote, TokenList& tokens) {
  const char* const data = line.data();
  const std::size_t size = line.size();
  bool quoteOpen = false;
  std::size_t start = 0;
  auto visit = [&](std::size_t at) {
    if (data[at] == quote) {
      quoteOpen = !quoteOpen;
    } else if (!quoteOpen) {
      tokens.add(at);
      start = at + 1;
    }
  };
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    const std::uint64_t word = loadLittleEndian(data + i);
    const std::uint64_t separators = matchingBytes(word, separator);
    const std::uint64_t quotes = matchingBytes(word, quote);
    if (quotes == 0 && !quoteOpen) {
      // Outside quotes every separator ends a token.
      for (std::uint64_t hits = separators; hits != 0; hits &= hits - 1) {
        start = i + static_cast<std::size_t>(std::countr_zero(hits)) / 8;
        tokens.add(start++);
      }
      continue;
    }
    for (std::uint64_t hits = separators | quotes; hits != 0; hits &= hits - 1) {
      visit(i + static_cast<std::size_t>(std::countr_zero(hits)) / 8);
    }
  }
  for (; i < size; ++i) {
    if (data[i] == separator || data[i] == quote) visit(i);
  }
  if (quoteOpen) throw invalidArgument();  // the quote stays open to the end
  if (start < size) tokens.add(size);
}

// Any separator and quote text, whole units searched character by character.
void splitAtText(std::string_view line, std::string_view delimiter, std::string_view quotes,
                 TokenList& tokens) {
  const TextFinder separator(delimiter);
  const TextFinder quote(quotes);
  const bool balanceQuotes = !IsBlank(quotes);

  // Each token ends at the next separator. The line's end counts as one
  // more separator unless the line is empty or already ends with one, so
  // "a,b," gives two tokens and "a,b,," three.
  auto nextEnd = [&](std::size_t from) {
    if (from > line.size()) return kNotFound;
    const std::size_t found = separator.findIn(line, from);
    if (found != kNotFound) return found;
    return from < line.size() ? line.size() : kNotFound;
  };

  QuoteCounter quoteCounter(quote, balanceQuotes ? line : std::string_view());
  for (std::size_t start = 0;;) {
    std::size_t end = nextEnd(start);
    if (end == kNotFound) break;
    if (balanceQuotes) {
      quoteCounter.startCandidate(start);
      while (quoteCounter.isOddUpTo(end)) {
        end = nextEnd(end + separator.size());
        if (end == kNotFound) throw invalidArgument();  // the quote stays open to the end
      }
    }
    tokens.add(end);
    start = end + separator.size();
  }
}

}  // namespace

std::int32_t GetTokens(std::string_view TokenString, std::string_view Delimeter, TokenList& Tokens,
                       std::string_view Quotes, RunHost& host) {
  Tokens.reset(TokenString, Delimeter.size());
  try {
    // Token ends are kept in 32 bits and the count is a 32-bit number.
    if (TokenString.size() >= std::numeric_limits<std::int32_t>::max()) throw counterOverflow();
    if (isAsciiCharacter(Delimeter) && isAsciiCharacter(Quotes) && !IsBlank(Quotes) && Delimeter != Quotes) {
      splitAtCharacter(TokenString, Delimeter[0], Quotes[0], Tokens);
    } else {
      splitAtText(TokenString, Delimeter, Quotes, Tokens);
    }
    return static_cast<std::int32_t>(Tokens.size());
  } catch (const Failure& failure) {
    host.ShowWarning("Error: " + failure.description(), failure.source());
    return 0;
  }
}

}  // namespace tavrin
