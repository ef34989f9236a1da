#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tavrin {

class RunHost;

// The tokens of one line, as views into it. Tokens lie back to back, each one
// beginning just past the separator that ends the one before, so the list keeps
// only where each ends: four bytes a token, however many empty ones a line has.
class TokenList {
 public:
  // Empties the list for tokens of `line` split at separators of `separatorSize` bytes.
  void reset(std::string_view line, std::size_t separatorSize);
  // Stores the next token, which ends at byte `end` of the line.
  void add(std::size_t end) { m_ends.push_back(static_cast<std::uint32_t>(end)); }

  std::size_t size() const { return m_ends.size(); }
  bool empty() const { return m_ends.empty(); }
  // Token `index`, counted from 0.
  std::string_view operator[](std::size_t index) const {
    const std::size_t start = index == 0 ? 0 : m_ends[index - 1] + m_separatorSize;
    return m_line.substr(start, m_ends[index] - start);
  }

 private:
  std::string_view m_line;
  std::size_t m_separatorSize = 0;
  std::vector<std::uint32_t> m_ends;
};

// How often `SearchChar` occurs in `InString`; occurrences may overlap.
std::int32_t CharCount(std::string_view InString, std::string_view SearchChar);

// Breaks `TokenString` into `Tokens` at each `Delimeter`, except where the
// token so far holds an odd number of `Quotes`. Returns the number of tokens.
// A quote left open to the end of the line is reported through the host's
// ShowWarning and gives 0, with the tokens before it left in `Tokens`.
std::int32_t GetTokens(std::string_view TokenString, std::string_view Delimeter, TokenList& Tokens,
                       std::string_view Quotes, RunHost& host);

}  // namespace tavrin
