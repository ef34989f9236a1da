#include "cli/cli_host.hpp"

#include <algorithm>
#include <optional>
#include <ostream>

#include "cli/columns.hpp"
#include "engine/shown_text.hpp"
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

// The reports' CR LF pairs become plain line ends. What else a report holds
// of the input and of file names comes as shownText gives it.
std::string terminalLines(std::string_view text) {
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find("\r\n", start), text.size());
    lines.append(text, start, end - start);
    if (end == text.size()) break;
    lines += '\n';
    start = end + 2;
  }
  return lines;
}

}  // namespace

void CliHost::separatorChosen(std::string_view separator, std::uint64_t lineNumber) {
  say("separator \"" + std::string(separator) + "\" (from line " + std::to_string(lineNumber) + ")");
}

void CliHost::finish() {
  clearProgress();
  if (!m_counts || !m_summary) return;
  const std::string where =
      m_outputName == "-" ? "standard output" : '"' + shownText(m_outputName, TextForm::Utf8) + '"';
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
  bool shown = m_inherited.errorTerminal != kNoFile || m_terminal.write(terminalLines(text) + "\n");
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
  m_err << kProgram << ": " << terminalLines(text) << '\n' << std::flush;
}

void CliHost::sayAboutLine(std::string_view text) {
  if (!m_closing) ++m_linesReported;
  say(shownText(m_inputName, TextForm::Utf8) + ':' + std::to_string(m_lineNumber) + ": " + std::string(text));
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
  // The token comes as shownText gives it: nothing in it steers the terminal.
  for (; offset < token.size();) {
    const Character c = characterAt(token, offset, TextForm::Utf8);
    const int width = columnsOf(c.code);
    if (used + width > room) break;
    if (used + width <= room - 3) {
      fitsWithMark = shown.size() + c.size;
      usedWithMark = used + width;
    }
    shown.append(token, offset, c.size);
    used += width;
    offset += c.size;
  }
  if (offset < token.size()) {
    // The isolate that the token began still ends before the share.
    shown.resize(fitsWithMark);
    shown += "...\u2069";
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
