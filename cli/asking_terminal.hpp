#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cli/terminal.hpp"

namespace tavrin {

// The terminal that line errors are asked about on. Answers never come from
// standard input, which may be the very input of the run.
class AskingTerminal {
 public:
  explicit AskingTerminal(const std::string& name) : m_terminal(openTerminal(name)) {}
  ~AskingTerminal() { closeTerminal(m_terminal); }
  AskingTerminal(const AskingTerminal&) = delete;
  AskingTerminal& operator=(const AskingTerminal&) = delete;

  bool isThere() const { return m_terminal.output != kNoFile; }

  // False when the terminal did not take it all.
  bool write(std::string_view text) {
    while (!text.empty()) {
      const Moved moved = writeTo(m_terminal.output, text.data(), text.size());
      if (moved.error != 0) return false;
      text.remove_prefix(moved.count);
    }
    return true;
  }

  // The next line typed, without its end; nothing when the terminal is gone.
  std::optional<std::string> readLine() {
    std::string line;
    for (char c;;) {
      const Moved moved = readFrom(m_terminal.input, &c, 1);
      if (moved.count == 0) return line.empty() ? std::nullopt : std::optional(line);
      if (c == '\n') return line;
      if (c != '\r') line += c;
    }
  }

 private:
  Terminal m_terminal;
};

}  // namespace tavrin
