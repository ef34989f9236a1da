#include "cli/cli_host.hpp"

#include <algorithm>
#include <optional>
#include <ostream>

#include "cli/columns.hpp"
#include "cli/printable.hpp"
#include "engine/text.hpp"

namespace tavrin {

namespace {

// 1204 as "1,204".
std::string withThousands(std::uint64_t number) {
  std::string digits = std::to_string(number);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

// "1 record", "2 records".
std::string counted(std::uint64_t number, std::string_view thing) {
  return withThousands(number) + ' ' + std::string(thing) + (number == 1 ? "" : "s");
}

}  // namespace

void CliHost::separatorChosen(std::string_view separator, std::uint64_t lineNumber) {
  say("separator \"" + std::string(separator) + "\" (from line " + std::to_string(lineNumber) + ")");
}

void CliHost::finish() {
  clearProgress();
  if (!m_counts || !m_summary) return;
  const std::string where = m_outputName == "-" ? "standard output" : '"' + m_outputName + '"';
  std::string summary = counted(m_counts->records, "record") + " written to " + where;
  if (m_outputOptions.unique) summary += "; " + counted(m_counts->duplicates, "duplicate") + " left out";
  if (m_linesReported > 0) summary += "; " + counted(m_linesReported, "line") + " reported";
  if (m_counts->withoutAddress > 0)
    summary += "; " + withThousands(m_counts->withoutAddress) + " without an address";
  say(summary);
}

bool CliHost::AskYesNo(std::string_view text) {
  m_troubleReported = true;
  sayAboutLine(text);
  switch (m_policy) {
    case LineErrorPolicy::Continue:
      return true;
    case LineErrorPolicy::Stop:
      return false;
    case LineErrorPolicy::Ask:
      break;
  }
  // Someone reading only the terminal must see what the question is about.
  bool shown = m_inherited.errorTerminal != kNoFile ||
               m_terminal.write(printable(shortenForDisplay(text, TextForm::Utf8)) + "\n");
  const std::string_view question =
      m_closing ? "write the rest of the output again?" : "go on with the next line?";
  for (;;) {
    shown = shown && m_terminal.write(std::string(kProgram) + ": " + std::string(question) + " [Y/n] ");
    const std::optional<std::string> answer = shown ? m_terminal.readLine() : std::nullopt;
    if (!answer) {
      // A question that cannot be shown or answered is none: from now on
      // nobody is asked, and what holds for nobody to ask holds.
      m_policy = LineErrorPolicy::Continue;
      return true;
    }
    if (answer->empty() || *answer == "y" || *answer == "Y" || *answer == "yes") return true;
    if (*answer == "n" || *answer == "N" || *answer == "no") return false;
  }
}

bool CliHost::isOutputOnErrorTerminal() const {
  const std::optional<FileInfo> terminal = infoOf(m_inherited.errorTerminal);
  const std::optional<FileInfo> output = m_output != kNoFile ? infoOf(m_output) : infoOf(m_outputName);
  return terminal && output && terminal->id == output->id;
}

void CliHost::say(std::string_view text) {
  clearProgress();
  m_err << kProgram << ": " << printable(shortenForDisplay(text, TextForm::Utf8)) << '\n' << std::flush;
}

void CliHost::sayAboutLine(std::string_view text) {
  if (!m_closing) ++m_linesReported;
  say(m_inputName + ':' + std::to_string(m_lineNumber) + ": " + std::string(text));
}

int CliHost::columns() const {
  const int columns = terminalColumns(m_inherited.errorTerminal);
  return columns > 0 ? columns : 80;
}

void CliHost::drawProgress() {
  std::string share;
  if (m_bytesTotal > 0) share = "  (" + std::to_string(m_bytesRead * 100 / m_bytesTotal) + "%)";
  const std::size_t dash = m_status.find(" - ");
  const std::string_view count = std::string_view(m_status).substr(0, dash + 3);
  const std::string_view token = std::string_view(m_status).substr(dash + 3);
  // The last column stays free: writing into it wraps on some terminals.
  int room = columns() - 1 - static_cast<int>(count.size() + share.size());
  if (room < 4) {
    share.clear();
    room = columns() - 1 - static_cast<int>(count.size());
  }
  std::string shown;
  int used = 0;
  std::size_t offset = 0;
  std::size_t fitsWithMark = 0;  // how much of the token fits beside "..."
  int usedWithMark = 0;
  for (; offset < token.size();) {
    const Character c = characterAt(token, offset, TextForm::Utf8);
    // Control characters in a token must not steer the terminal.
    const bool plain = c.wellFormed && c.code >= 0x20 && !(c.code >= 0x7F && c.code < 0xA0);
    const int width = plain ? columnsOf(c.code) : 1;
    if (used + width > room) break;
    if (used + width <= room - 3) {
      fitsWithMark = shown.size() + (plain ? c.size : 1);
      usedWithMark = used + width;
    }
    plain ? shown.append(token, offset, c.size) : shown.append("?");
    used += width;
    offset += c.size;
  }
  if (offset < token.size()) {
    shown.resize(fitsWithMark);
    shown += "...";
    used = usedWithMark + 3;
  }
  const int width = static_cast<int>(count.size() + share.size()) + used;
  std::string frame = '\r' + std::string(count) + shown + share;
  if (m_inherited.terminalTakesEscapes) {
    frame += "\x1b[K";
  } else if (width < m_progressWidth) {
    frame.append(static_cast<std::size_t>(m_progressWidth - width), ' ');
  }
  // Marked first, so that an interrupt clears even a frame that it cuts
  // short; written at once, so that it is seldom cut.
  markProgressLine(m_inherited.errorTerminal);
  m_err << frame << std::flush;
  m_progressWidth = std::max(width, m_inherited.terminalTakesEscapes ? 0 : m_progressWidth);
}

void CliHost::clearProgress() {
  if (m_progressWidth < 0) return;
  markProgressLine(kNoFile);
  if (m_inherited.terminalTakesEscapes) {
    m_err << "\r\x1b[K";
  } else {
    m_err << '\r' << std::string(static_cast<std::size_t>(m_progressWidth), ' ') << '\r';
  }
  m_err << std::flush;
  m_progressWidth = -1;
}

}  // namespace tavrin
