#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string_view>
#include <vector>

namespace tavrin {

class RunHost;

class Failure;

// The tokens of one line, as views into it. Tokens lie back to back, each one
// beginning just past the separator that ends the one before, so the list
// keeps only where each ends, one bit for each byte of the line: a line made
// of separators costs an eighth of its size here.
class TokenList {
 public:
  class Iterator {
   public:
    std::string_view operator*() const { return {m_line + m_start, m_end - m_start}; }
    Iterator& operator++() {
      m_start = m_end + m_separatorSize;
      m_bits &= m_bits - 1;
      findNext();
      return *this;
    }
    bool operator==(std::default_sentinel_t) const { return m_bits == 0; }

   private:
    friend class TokenList;
    explicit Iterator(const TokenList& list)
        : m_line(list.m_line.data()),
          m_separatorSize(list.m_separatorSize),
          m_first(list.m_ends.data()),
          m_next(m_first),
          m_last(m_first + list.m_ends.size()) {
      findNext();
    }
    void findNext() {
      while (m_bits == 0 && m_next != m_last) m_bits = *m_next++;
      if (m_bits != 0) m_end = static_cast<std::size_t>(m_next - m_first - 1) * 64 + std::countr_zero(m_bits);
    }

    const char* m_line;
    std::size_t m_separatorSize;
    const std::uint64_t* m_first;
    const std::uint64_t* m_next;  // the word after the one in m_bits
    const std::uint64_t* m_last;
    std::uint64_t m_bits = 0;  // ends not yet visited in the current word
    std::size_t m_start = 0;   // where the current token begins
    std::size_t m_end = 0;
  };

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

  // Counted when asked: the run only walks through the list.
  std::size_t size() const;
  bool empty() const { return begin() == end(); }
  Iterator begin() const { return Iterator(*this); }
  std::default_sentinel_t end() const { return {}; }

 private:
  std::string_view m_line;
  std::size_t m_separatorSize = 0;
  std::vector<std::uint64_t> m_ends;  // bit i of word w: a token ends at byte 64 w + i
};

// How often `SearchChar` occurs in `InString`; occurrences may overlap.
std::int32_t CharCount(std::string_view InString, std::string_view SearchChar);

// Breaks `TokenString` into `Tokens` at each `Delimeter`, except where the
// token so far holds an odd number of `Quotes`. Returns the number of tokens.
// A quote left open to the end of the line is reported through the host's
// ShowWarning and gives 0, with the tokens before it left in `Tokens`.
std::int32_t GetTokens(std::string_view TokenString, std::string_view Delimeter, TokenList& Tokens,
                       std::string_view Quotes, RunHost& host);

// GetTokens without its warning: a line that it would refuse raises the
// failure instead, with the tokens before it left in `Tokens`. For a caller
// that has something to show first; warnOfRefusedLine then gives the warning.
void splitLine(std::string_view TokenString, std::string_view Delimeter, TokenList& Tokens,
               std::string_view Quotes);
void warnOfRefusedLine(RunHost& host, const Failure& failure);

}  // namespace tavrin
