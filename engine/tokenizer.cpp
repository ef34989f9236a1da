#include "engine/tokenizer.hpp"

#include <bit>
#include <limits>
#include <string>

#include "engine/blank.hpp"
#include "engine/byte_scan.hpp"
#include "engine/failure.hpp"
#include "engine/run_host.hpp"
#include "engine/shown_text.hpp"
#include "engine/text.hpp"

namespace tavrin {

namespace {

// Counts the quotes of each candidate token. The occurrences of the quote text
// are found once for the whole line, left to right, since candidates only move
// forward and only grow: a quote left open over a million separators, or a
// line of a thousand tokens without any quote, takes time linear in the line.
class QuoteCounter {
 public:
  QuoteCounter(const TextFinder& quote, std::string_view line, TextForm form)
      : m_quote(quote), m_line(line), m_form(form), m_next(quote.findIn(line, 0)) {}

  void startCandidate(std::size_t start) {
    m_start = start;
    m_count = 0;
  }

  // Whether the candidate from its start up to `end` holds an odd number of quotes.
  bool isOddUpTo(std::size_t end) {
    while (m_next != kNotFound && m_next + m_quote.size() <= end) {
      if (m_next >= m_start) ++m_count;
      // Occurrences may overlap.
      m_next = m_quote.findIn(m_line, m_next + characterAt(m_line, m_next, m_form).size);
    }
    return m_count % 2 != 0;
  }

 private:
  const TextFinder& m_quote;
  std::string_view m_line;
  TextForm m_form;
  std::size_t m_next;  // the first occurrence not yet counted
  std::size_t m_start = 0;
  std::size_t m_count = 0;
};

}  // namespace

std::size_t TokenList::size() const {
  std::size_t count = 0;
  for (const std::uint64_t ends : m_ends) count += static_cast<std::size_t>(std::popcount(ends));
  return count;
}

std::int32_t CharCount(std::string_view InString, std::string_view SearchChar, TextForm form) {
  const TextFinder finder(SearchChar, form);
  std::int32_t count = 0;
  for (std::size_t found = finder.findIn(InString, 0); found != kNotFound;
       found = finder.findIn(InString, found + characterAt(InString, found, form).size)) {
    ++count;
  }
  return count;
}

namespace {

bool isAsciiCharacter(std::string_view text) {
  return text.size() == 1 && static_cast<unsigned char>(text[0]) < 0x80;
}

// Whether a quote stays open at the end of a line of at most kShortText
// bytes; its token ends go to the first word of `tokens`. Cheaper in one word
// than through a padded block.
bool splitShortLine(std::string_view line, char separator, char quote, TokenList& tokens) {
  std::uint64_t separators;
  std::uint64_t quotes;
  shortTextMasks(line, separator, quote, separators, quotes);
  const std::uint64_t inside = quotes == 0 ? 0 : prefixParity(quotes);  // most short lines hold none
  tokens.addWord(0, separators & ~inside);
  return !line.empty() && (inside >> (line.size() - 1) & 1) != 0;
}

// The usual case, one ASCII separator and one ASCII quote character: whole
// blocks of the line are classified at once, and the separators outside
// quotes in a block are the ends of its tokens.
void splitAtCharacter(std::string_view line, char separator, char quote, TokenList& tokens) {
  bool open;
  if (line.size() <= kShortText) {
    open = splitShortLine(line, separator, quote, tokens);
  } else if (line.size() < kBlockSize) {
    // Classified in place.
    const char sought[4] = {separator, quote, separator, quote};
    std::uint64_t masks[4];
    blockScanner().eachOfFour(line.data(), line.size(), sought, masks);
    const std::uint64_t quoted = prefixParity(masks[1]);
    tokens.addWord(0, masks[0] & ~quoted);
    open = (quoted >> (line.size() - 1) & 1) != 0;
  } else {
    open = blockScanner().markSeparators(line.data(), line.size(), separator, quote, tokens.words());
  }
  if (open) throw invalidArgument();  // the quote stays open to the end
  // The line's end ends the last token unless a separator just did.
  if (!line.empty() && line.back() != separator) tokens.add(line.size());
}

// Any separator and quote text, whole units searched character by character.
void splitAtText(std::string_view line, std::string_view delimiter, std::string_view quotes,
                 TokenList& tokens, TextForm form) {
  tokens.clearWords();
  const TextFinder separator(delimiter, form);
  const TextFinder quote(quotes, form);
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

  QuoteCounter quoteCounter(quote, balanceQuotes ? line : std::string_view(), form);
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

void splitLine(std::string_view TokenString, std::string_view Delimeter, TokenList& Tokens,
               std::string_view Quotes, TextForm form) {
  Tokens.reset(TokenString, Delimeter.size());
  // The count is a 32-bit number.
  if (TokenString.size() >= std::numeric_limits<std::int32_t>::max()) throw counterOverflow();
  // A quote text of one character is blank when it is a space or NUL.
  if (isAsciiCharacter(Delimeter) && isAsciiCharacter(Quotes) && Quotes[0] != ' ' && Quotes[0] != '\0' &&
      Delimeter[0] != Quotes[0]) {
    splitAtCharacter(TokenString, Delimeter[0], Quotes[0], Tokens);
  } else {
    splitAtText(TokenString, Delimeter, Quotes, Tokens, form);
  }
}

void warnOfRefusedLine(RunHost& host, const Failure& failure) {
  host.ShowWarning("Error: " + failure.description(), failure.source());
}

void warnOfRefusedLine(RunHost& host, const Failure& failure, std::uint64_t lineNumber, std::string_view line,
                       TextForm form) {
  constexpr std::size_t kStartShown = 60;
  std::string description = failure.description() + ": a quote stays open to the end of line " +
                            std::to_string(lineNumber) + ", which begins ";
  const std::string_view start = headOf(line, kStartShown, form);
  description += shownText(start, form);
  if (start.size() < line.size()) description += "\u2026";
  warnOfRefusedLine(host, Failure(failure.number(), std::move(description), failure.source()));
}

std::int32_t GetTokens(std::string_view TokenString, std::string_view Delimeter, TokenList& Tokens,
                       std::string_view Quotes, RunHost& host, TextForm form) {
  try {
    splitLine(TokenString, Delimeter, Tokens, Quotes, form);
    return static_cast<std::int32_t>(Tokens.size());
  } catch (const Failure& failure) {
    warnOfRefusedLine(host, failure);
    return 0;
  }
}

}  // namespace tavrin
