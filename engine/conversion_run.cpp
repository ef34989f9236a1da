#include "engine/conversion_run.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

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

// Whether a regular file at `name` is protected against writing, as rm sees
// it before removing one: for a normal user, not writable by them; for root,
// without any write permission bit.
bool isWriteProtected(const std::string& name) {
  struct stat entry {};
  if (::lstat(name.c_str(), &entry) != 0 || !S_ISREG(entry.st_mode)) return false;
  if (::geteuid() == 0) return (entry.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  return ::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
}

Failure outputIsInput(const std::string& outputName, const std::string& inputName) {
  return Failure(EINVAL, "The output file \"" + outputName + "\" is the input file \"" + inputName +
                             "\"; both are left as they are");
}

// Runs `step` and gives back the failure that it raised, if any; running out
// of memory is a failure like any other.
template <typename Step>
std::optional<Failure> failureOf(Step&& step) {
  try {
    step();
    return std::nullopt;
  } catch (const Failure& failure) {
    return failure;
  } catch (const std::bad_alloc&) {
    return outOfMemory();
  }
}

class Run {
 public:
  explicit Run(RunHost& host) : m_host(host) {
    m_input.setBeforeMove([this] { keepStatusToken(); });
  }

  void execute() {
    if (setUp()) processLines();
  }

 private:
  // Opens both files and reads the first line; false when the run is over.
  bool setUp() {
    bool linesWaiting = false;
    const std::optional<Failure> failure = failureOf([&] {
      m_host.SetSeparator(trim(m_host.GetSeparator()));
      if (IsBlank(m_host.GetSeparator())) m_host.SetSeparator(kDefaultSeparator);
      openFiles();
      m_firstRecord = true;
      linesWaiting = !m_input.atEnd();
      if (linesWaiting) readLine();
    });
    if (failure) {
      m_host.ShowMessage(runReport(*failure));
      linesWaiting = false;
    }
    if (!linesWaiting) closeFiles();
    return linesWaiting;
  }

  // Nothing is deleted, emptied or written before it is sure that the output
  // is not the input, by any name, link or inherited descriptor.
  void openFiles() {
    const std::string outputName = m_host.GetOutputFileName();
    const std::string inputName = m_host.GetInputFileName();
    const int inheritedInput = m_host.inheritedInput();
    const int inheritedOutput = m_host.inheritedOutput();
    if (inheritedOutput < 0) {
      const std::optional<FileId> input = inheritedInput < 0 ? fileIdOf(inputName) : fileIdOf(inheritedInput);
      const std::optional<FileId> output = fileIdOf(outputName);
      if (input && output && input->isSameRegularFile(*output)) throw outputIsInput(outputName, inputName);
      if (isWriteProtected(outputName))
        throw fileFailure(EACCES, "Cannot replace the output file \"" + outputName + '"');
      DeleteFile(outputName);
    }
    if (inheritedInput < 0) {
      m_input.open(inputName);
    } else {
      m_input.adopt(inheritedInput, inputName);
    }
    if (inheritedOutput < 0) {
      m_output.open(m_host.GetOutputFileName());
    } else {
      m_output.adopt(inheritedOutput, outputName);
    }
    const std::optional<FileId> input = m_input.fileId();
    const std::optional<FileId> output = m_output.fileId();
    if (input && output && input->isSameRegularFile(*output)) throw outputIsInput(outputName, inputName);
    m_output.start(m_input.getEncoding());
  }

  void processLines() {
    bool lineWaiting = true;  // the first line was read during setup
    for (bool inputEnded = false; !inputEnded;) {
      const std::optional<Failure> failure = failureOf([&] {
        if (!lineWaiting) {
          inputEnded = m_input.atEnd();
          if (inputEnded) return;
          readLine();
        }
        lineWaiting = false;
        processLine(m_input.line());
      });
      if (!failure) continue;
      handOverStatus();  // the token that failed, if one did
      if (failure->endsRun()) {
        m_host.ShowMessage(runReport(*failure));
        m_output.abandon();
        break;
      }
      if (!m_host.AskYesNo(lineReport(m_input.line(), *failure))) break;
    }
    handOverStatus();
    closeFiles();
  }

  // Both files are closed whatever happens: what the output could not take
  // is reported and dropped, and the file holds all that came before it.
  void closeFiles() {
    m_input.close();
    const std::optional<Failure> failure = failureOf([&] { m_output.close(); });
    if (!failure) return;
    if (failure->endsRun()) {
      m_host.ShowMessage(runReport(*failure));
    } else {
      m_host.AskYesNo(lineReport(m_input.line(), *failure));
    }
    m_output.abandon();
  }

  void readLine() {
    m_input.readLine();
    m_host.lineRead(++m_lineNumber, m_input.bytesRead(), m_input.fileSize());
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
    // The host's choices change only while it has control.
    m_unbuildChecked = m_host.IsUnbuildChecked();
    m_tokens.forEach([this](std::string_view token) { processToken(token); });
  }

  // The reader is about to move the text of earlier lines: a status still to
  // come keeps its own copy of its token.
  void keepStatusToken() {
    if (statusPending() && m_statusToken.data() != m_keptStatusToken.data()) {
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
    if (m_statusPacer.isDue()) {
      handOverStatus();
      m_unbuildChecked = m_host.IsUnbuildChecked();
    }

    if (m_unbuildChecked) {
      // The unpacker would trim the token first: the trimmed one gives the same record.
      m_unbuild.write(trimmed, m_output, m_firstRecord);
      return;
    }
    // The usual token goes straight into the output's buffer, a whole block
    // at a time: the reader has bytes to spare past the line.
    if (!m_firstRecord && m_output.hasLineRoom() && trimmed.size() <= kBlockSize) {
      char* const room = m_output.lineRoom();
      std::memcpy(room, trimmed.data(), kBlockSize);
      m_output.endLine(room + trimmed.size());
      return;
    }
    if (m_firstRecord) m_output.writeLine(kPlainHeader);
    m_firstRecord = false;
    m_output.writeLine(trimmed);
  }

  // The status text of the latest token, "12 - abc", when the host has not
  // had it yet. Out of the token loop, which it would crowd.
  [[gnu::noinline]] void handOverStatus() {
    if (!statusPending()) return;
    m_statusShownFor = m_tokenCounter;
    std::string text = std::to_string(m_tokenCounter);
    text += kStatusDash;
    text += m_statusToken;
    m_host.SetStatusText(text);
    m_host.RefreshStatus();
  }

  // Whether a token has come since the host's status was last set.
  bool statusPending() const { return m_tokenCounter != m_statusShownFor; }

  static constexpr std::string_view kStatusDash = " - ";

  RunHost& m_host;
  TextReader m_input;
  TextWriter m_output;
  std::uint64_t m_lineNumber = 0;
  std::int32_t m_tokenCounter = 0;
  bool m_firstRecord = false;
  bool m_unbuildChecked = false;  // the host's answer, asked again after every call to it
  TokenList m_tokens;
  ProgressPacer m_statusPacer{m_host.statusInterval()};
  std::int32_t m_statusShownFor = 0;  // the count of the token that the host's status shows
  std::string_view m_statusToken;     // in the current line, or in m_keptStatusToken
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
    // A link is removed, never written through: a dangling one would make
    // the new output somewhere else.
    struct stat target {};
    if (::stat(name.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) return;
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
