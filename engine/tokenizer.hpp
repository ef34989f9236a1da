#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "engine/text.hpp"

namespace tavrin {

class RunHost;

class Failure;

// The tokens of one line, as views into it. Tokens lie back to back, each one
// beginning just past the separator that ends the one before, so the list
// keeps only where each ends, one bit for each byte of the line: a line made
// of separators costs an eighth of its size here.
class TokenList {
 public:
  // Makes room for tokens of `line` split at separators of `separatorSize`
  // bytes. Only the last word is emptied: addWord fills the others in turn,
  // and a filler that uses add alone calls clearWords first.
  void reset(std::string_view line, std::size_t separatorSize) {
    m_line = line;
    m_separatorSize = separatorSize;
    m_ends.resize(line.size() / 64 + 1);  // room for an end just past the line
    m_ends.back() = 0;
  }
  void clearWords() { std::fill(m_ends.begin(), m_ends.end(), 0); }
  // Stores the next token, which ends at byte `end` of the line.
  void add(std::size_t end) { m_ends[end / 64] |= std::uint64_t{1} << (end % 64); }
  // Stores the tokens that end in bytes 64 * `word` to 64 * `word` + 63, one
  // bit a byte, all after those stored so far.
  void addWord(std::size_t word, std::uint64_t ends) { m_ends[word] = ends; }
  // The words themselves, for a filler that writes them all in turn.
  std::uint64_t* words() { return m_ends.data(); }

  // Calls `visit` with each token in turn.
  template <typename Visit>
  void forEach(Visit&& visit) const {
    const char* start = m_line.data();
    const char* block = start;  // where the bits of `word` begin
    const std::uint64_t* const last = m_ends.data() + m_ends.size();
    for (const std::uint64_t* word = m_ends.data(); word != last; ++word, block += 64) {
      for (std::uint64_t ends = *word; ends != 0; ends &= ends - 1) {
        const char* const end = block + std::countr_zero(ends);
        visit(std::string_view(start, static_cast<std::size_t>(end - start)));
        start = end + m_separatorSize;
      }
    }
  }

  // Counted when asked: the run only walks through the list.
  std::size_t size() const;

 private:
  std::string_view m_line;
  std::size_t m_separatorSize = 0;
  std::vector<std::uint64_t> m_ends;  // bit i of word w: a token ends at byte 64 w + i
};

// How often `SearchChar` occurs in `InString`; occurrences may overlap.
// Neither GetTokens nor the run calls it: the tokenizer finds a line's quotes
// in one pass (on bit masks, or with QuoteCounter in tokenizer.cpp for a
// quote text of several bytes), so that a long line takes time linear in its
// length; how the tokenizer counts quotes is changed there.
std::int32_t CharCount(std::string_view InString, std::string_view SearchChar, TextForm form);

// Breaks `TokenString` into `Tokens` at each `Delimeter`, except where the
// token so far holds an odd number of `Quotes`. Returns the number of tokens.
// A quote left open to the end of the line is reported through the host's
// ShowWarning and gives 0, with the tokens before it left in `Tokens`.
// The run does not call it but splitLine, below, as this does, and gives a
// warning of its own that names the line.
std::int32_t GetTokens(std::string_view TokenString, std::string_view Delimeter, TokenList& Tokens,
                       std::string_view Quotes, RunHost& host, TextForm form);

// GetTokens without its warning: a line that it would refuse raises the
// failure instead, with the tokens before it left in `Tokens`. For a caller
// that has something to show first; warnOfRefusedLine then gives the warning.
void splitLine(std::string_view TokenString, std::string_view Delimeter, TokenList& Tokens,
               std::string_view Quotes, TextForm form);
void warnOfRefusedLine(RunHost& host, const Failure& failure);
// The same for line `lineNumber` of a run, whose number and start the
// warning shows, so that many of them can be told apart.
void warnOfRefusedLine(RunHost& host, const Failure& failure, std::uint64_t lineNumber, std::string_view line,
                       TextForm form);

}  // namespace tavrin
