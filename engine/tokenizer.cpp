#include "engine/tokenizer.hpp"

#include <limits>
#include <string>

#include "engine/blank.hpp"
#include "engine/failure.hpp"
#include "engine/run_host.hpp"
#include "engine/text.hpp"

namespace tavrin {

namespace {

// Counts the quotes of a growing candidate [start, end): each extension only
// counts its new part, so a quote left open over a million separators still
// takes time linear in the line.
class QuoteCounter {
 public:
  QuoteCounter(const TextFinder& quote, std::string_view line, std::size_t start)
      : m_quote(quote), m_line(line), m_next(start) {}

  bool IsOddUpTo(std::size_t end) {
    for (;;) {
      if (m_next == kNotFound) break;
      const std::size_t found = m_quote.FindIn(m_line, m_next);
      m_next = found;
      if (found == kNotFound || found + m_quote.Size() > end) break;
      ++m_count;
      m_next = found + CharacterAt(m_line, found).size;  // occurrences may overlap
    }
    return m_count % 2 != 0;
  }

 private:
  const TextFinder& m_quote;
  std::string_view m_line;
  std::size_t m_next;  // where the next occurrence is to be looked for
  std::size_t m_count = 0;
};

}  // namespace

void TokenList::Reset(std::string_view line, std::size_t separatorSize) {
  m_line = line;
  m_separatorSize = separatorSize;
  m_ends.clear();
}

std::string_view TokenList::operator[](std::size_t index) const {
  const std::size_t start = index == 0 ? 0 : m_ends[index - 1] + m_separatorSize;
  return m_line.substr(start, m_ends[index] - start);
}

std::int32_t CharCount(std::string_view InString, std::string_view SearchChar) {
  const TextFinder finder(SearchChar);
  std::int32_t count = 0;
  for (std::size_t found = finder.FindIn(InString, 0); found != kNotFound;
       found = finder.FindIn(InString, found + CharacterAt(InString, found).size)) {
    ++count;
  }
  return count;
}

std::int32_t GetTokens(std::string_view TokenString, std::string_view Delimeter, TokenList& Tokens,
                       std::string_view Quotes, RunHost& host) {
  Tokens.Reset(TokenString, Delimeter.size());
  try {
    // Token ends are kept in 32 bits and the count is a 32-bit number.
    if (TokenString.size() >= std::numeric_limits<std::int32_t>::max()) throw CounterOverflow();
    const TextFinder separator(Delimeter);
    const TextFinder quote(Quotes);
    const bool balanceQuotes = !IsBlank(Quotes);

    // Each token ends at the next separator. The line's end counts as one
    // more separator unless the line is empty or already ends with one, so
    // "a,b," gives two tokens and "a,b,," three.
    auto nextEnd = [&](std::size_t from) {
      if (from > TokenString.size()) return kNotFound;
      const std::size_t found = separator.FindIn(TokenString, from);
      if (found != kNotFound) return found;
      return from < TokenString.size() ? TokenString.size() : kNotFound;
    };

    for (std::size_t start = 0;;) {
      std::size_t end = nextEnd(start);
      if (end == kNotFound) break;
      if (balanceQuotes) {
        QuoteCounter quotes(quote, TokenString, start);
        while (quotes.IsOddUpTo(end)) {
          end = nextEnd(end + separator.Size());
          if (end == kNotFound) throw InvalidArgument();  // the quote stays open to the end
        }
      }
      Tokens.Add(end);
      start = end + separator.Size();
    }
    return static_cast<std::int32_t>(Tokens.size());
  } catch (const Failure& failure) {
    host.ShowWarning("Error: " + failure.Description(), failure.Source());
    return 0;
  }
}

}  // namespace tavrin
