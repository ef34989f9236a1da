#include "engine/conversion_run.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

#include "engine/blank.hpp"
#include "engine/failure.hpp"
#include "engine/progress_pacer.hpp"
#include "engine/text.hpp"
#include "engine/text_file.hpp"
#include "engine/tokenizer.hpp"
#include "engine/unbuild_records.hpp"

namespace tavrin {

namespace {

constexpr std::string_view kQuoteText = "\"";

// Whether both names lead to one regular file, by any path or link.
bool isSameFile(const std::string& first, const std::string& second) {
  struct stat a {};
  struct stat b {};
  return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 && S_ISREG(a.st_mode) &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

class Run {
 public:
  explicit Run(RunHost& host) : m_host(host) {}

  void execute() {
    if (setUp()) processLines();
  }

 private:
  // Opens both files and reads the first line; false when the run is over.
  bool setUp() {
    try {
      m_host.SetSeparator(trim(m_host.GetSeparator()));
      if (IsBlank(m_host.GetSeparator())) m_host.SetSeparator(kDefaultSeparator);
      const std::string outputName = m_host.GetOutputFileName();
      const std::string inputName = m_host.GetInputFileName();
      // Deleting the old output would destroy the input before it is read.
      if (isSameFile(inputName, outputName)) {
        throw Failure(EINVAL, "The output file \"" + outputName + "\" is the input file \"" + inputName +
                                  "\"; both are left as they are");
      }
      DeleteFile(outputName);
      m_input.open(inputName);
      m_output.create(m_host.GetOutputFileName(), m_input.getEncoding());
      m_firstRecord = true;
      if (m_input.atEnd()) {
        m_input.close();
        m_output.close();
        return false;
      }
      readLine();
      return true;
    } catch (const Failure& failure) {
      m_host.ShowMessage(runReport(failure));
      m_input.close();
      try {
        m_output.close();  // nothing is waiting to be written before the first line
      } catch (const Failure&) {
      }
      return false;
    }
  }

  void processLines() {
    bool lineWaiting = true;  // the first line was read during setup
    for (;;) {
      try {
        if (!lineWaiting) {
          if (m_input.atEnd()) break;
          readLine();
        }
        lineWaiting = false;
        processLine(m_input.line());
      } catch (const Failure& failure) {
        handOverStatus();  // the token that failed, if one did
        if (!m_host.AskYesNo(lineReport(m_input.line(), failure))) break;
      }
    }
    handOverStatus();
    try {
      m_input.close();
      m_output.close();
    } catch (const Failure& failure) {
      // The output file is closed whatever the answer; the run is over either way.
      m_host.AskYesNo(lineReport(m_input.line(), failure));
    }
  }

  void readLine() {
    m_input.readLine();
    m_host.inputRead(m_input.bytesRead(), m_input.fileSize());
  }

  void processLine(std::string_view line) {
    try {
      splitLine(line, m_host.GetSeparator(), m_tokens, kQuoteText);
    } catch (const Failure& failure) {
      // The tokenizer refuses the line: its warning, and nothing written.
      handOverStatus();
      warnOfRefusedLine(m_host, failure);
      return;
    }
    for (const std::string_view token : m_tokens) processToken(token);
    // The line's text goes with the next read; a status still to come keeps its own copy.
    if (m_statusPending && m_statusToken.data() != m_keptStatusToken.data()) {
      m_keptStatusToken.assign(m_statusToken);
      m_statusToken = m_keptStatusToken;
    }
  }

  void processToken(std::string_view token) {
    const std::string_view trimmed = trim(token);
    if (trimmed.empty()) return;
    if (m_tokenCounter == std::numeric_limits<std::int32_t>::max()) throw counterOverflow();
    ++m_tokenCounter;

    m_statusToken = trimmed;
    m_statusPending = true;
    if (m_statusPacer.isDue()) handOverStatus();

    if (m_host.IsUnbuildChecked()) {
      m_unbuild.write(token, m_output, m_firstRecord);
      return;
    }
    if (m_firstRecord) m_output.writeLine({kPlainHeader});
    m_firstRecord = false;
    m_output.writeLine({trimmed});
  }

  // The status text of the latest token, "12 - abc", when the host has not had it yet.
  void handOverStatus() {
    if (!m_statusPending) return;
    m_statusPending = false;
    std::string text = std::to_string(m_tokenCounter);
    text += kStatusDash;
    text += m_statusToken;
    m_host.SetStatusText(text);
    m_host.RefreshStatus();
  }

  static constexpr std::string_view kStatusDash = " - ";

  RunHost& m_host;
  TextReader m_input;
  TextWriter m_output;
  std::int32_t m_tokenCounter = 0;
  bool m_firstRecord = false;
  TokenList m_tokens;
  ProgressPacer m_statusPacer{m_host.statusInterval()};
  bool m_statusPending = false;
  std::string_view m_statusToken;  // in the current line, or in m_keptStatusToken
  std::string m_keptStatusToken;
  UnbuildStep m_unbuild;
};

}  // namespace

void ConversionRun(RunHost& host) {
  Run(host).execute();
}

void DeleteFile(std::string_view FileName) {
  const std::string name(FileName);
  struct stat entry {};
  if (::lstat(name.c_str(), &entry) != 0) return;
  if (S_ISLNK(entry.st_mode)) {
    struct stat target {};
    if (::stat(name.c_str(), &target) != 0 || !S_ISREG(target.st_mode)) return;
    // /dev/stdout and its kin lead through /proc to a descriptor of this
    // process: they name where the output goes, not a file to replace.
    constexpr std::string_view kProc = "/proc/";
    char start[kProc.size()];
    const ssize_t size = ::readlink(name.c_str(), start, sizeof start);
    if (size == static_cast<ssize_t>(kProc.size()) && std::string_view(start, kProc.size()) == kProc) return;
  } else if (!S_ISREG(entry.st_mode)) {
    return;
  }
  ::unlink(name.c_str());
}

std::string runReport(const Failure& failure) {
  return failure.description() + "(" + std::to_string(failure.number()) + ")";
}

std::string lineReport(std::string_view line, const Failure& failure) {
  std::string report = "Error processing line: ";
  report += line;
  report += "\r\nDescription: ";
  report += failure.description();
  report += "\r\nNumber: ";
  report += std::to_string(failure.number());
  return report;
}

}  // namespace tavrin
