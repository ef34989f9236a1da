#include "engine/conversion_run.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "engine/address_set.hpp"
#include "engine/blank.hpp"
#include "engine/csv_field.hpp"
#include "engine/failure.hpp"
#include "engine/platform.hpp"
#include "engine/progress_pacer.hpp"
#include "engine/separator_choice.hpp"
#include "engine/shown_text.hpp"
#include "engine/text.hpp"
#include "engine/text_file.hpp"
#include "engine/tokenizer.hpp"
#include "engine/unbuild_records.hpp"

namespace tavrin {

namespace {

constexpr std::string_view kQuoteText = "\"";
// An output that refuses this many writes in a row, with nothing taken in
// between, is given up when no person is asked.
constexpr int kRefusalsBeforeGivingUp = 8;
// The status shows the start of a long token: no front end shows more.
constexpr std::size_t kStatusTokenMost = 1000;

// The host asked to stop the run: no failure, and nothing more to say.
struct RunStopped {};

Failure outputIsInput(const std::string& outputName, const std::string& inputName) {
  return Failure(EINVAL, "The output file \"" + shownText(outputName, TextForm::Utf8) +
                             "\" is the input file \"" + shownText(inputName, TextForm::Utf8) +
                             "\"; both are left as they are");
}

class Run {
 public:
  explicit Run(RunHost& host) : m_host(host) {
    m_input.setBeforeMove([this] { keepForReports(); });
    const WhileWaiting whileWaiting = [this] { checkKeepGoing(); };
    m_input.setWhileWaiting(whileWaiting);
    m_output.setWhileWaiting(whileWaiting);
  }

  void execute() {
    try {
      if (setUp()) processLines();
    } catch (const RunStopped&) {
      m_input.close();
      m_output.removeUnfinished();
      return;
    }
    if (m_outputStarted) tellCounts();
  }

 private:
  // Runs `step` and gives back the failure that it raised, if any; running
  // out of memory is a failure like any other.
  template <typename Step>
  std::optional<Failure> failureOf(Step&& step) {
    try {
      step();
      return std::nullopt;
    } catch (const Failure& failure) {
      return failure;
    } catch (const std::bad_alloc&) {
      return outOfMemoryHere();
    }
  }

  // Opens both files and reads the first line; false when the run is over.
  bool setUp() {
    bool linesWaiting = false;
    const std::optional<Failure> failure = failureOf([&] {
      m_host.SetSeparator(trim(m_host.GetSeparator()));
      if (IsBlank(m_host.GetSeparator())) m_host.SetSeparator(kDefaultSeparator);
      m_options = m_host.outputOptions();
      m_separatorPending = m_options.separatorFromInput;
      m_forImport = m_options.csv || m_options.unique || m_options.countsWithoutAddress;
      openFiles();
      m_firstRecord = true;
      linesWaiting = readLine();
    });
    if (failure) {
      endRun(*failure);
      linesWaiting = false;
    }
    if (!linesWaiting) finish();
    return linesWaiting;
  }

  // Nothing is deleted, emptied or written before it is sure that the output
  // is not the input, by any name, link or inherited handle. The new output
  // is created right after the old one is gone, so that no one can put
  // something else in its place meanwhile; the input is opened just before,
  // so that a missing input leaves no output, and read only after.
  void openFiles() {
    const std::string outputName = m_host.GetOutputFileName();
    const std::string inputName = m_host.GetInputFileName();
    m_inputName = inputName;
    m_outputName = outputName;
    m_outOfMemory = outOfMemory("the input file \"" + shownText(inputName, TextForm::Utf8) + '"');
    const FileHandle inheritedInput = m_host.inheritedInput();
    const FileHandle inheritedOutput = m_host.inheritedOutput();
    OutputDecision decision;
    if (inheritedOutput == kNoFile) {
      const std::optional<FileInfo> input =
          inheritedInput == kNoFile ? infoOf(inputName) : infoOf(inheritedInput);
      const std::optional<FileInfo> output = infoOf(outputName);
      if (input && output && input->id.isSameRegularFile(output->id))
        throw outputIsInput(outputName, inputName);
      decision = decideOutput(outputName);
      if (decision.action == OutputAction::Refuse)
        throw fileFailure(decision.error, "Cannot write the output file \"" +
                                              shownText(outputName, TextForm::Utf8) + '"' + decision.reason);
      if (const int error = removeOldOutput(outputName, decision); error != 0)
        throw fileFailure(error,
                          "Cannot replace the output file \"" + shownText(outputName, TextForm::Utf8) + '"');
    }
    if (inheritedInput == kNoFile) {
      m_input.open(inputName);
    } else {
      m_input.adopt(inheritedInput, inputName);
    }
    if (inheritedOutput == kNoFile) {
      m_output.open(m_host.GetOutputFileName(), decision);
    } else {
      m_output.adopt(inheritedOutput, outputName);
    }
    const std::optional<FileId> input = m_input.fileId();
    const std::optional<FileId> output = m_output.fileId();
    if (input && output && input->isSameRegularFile(*output)) throw outputIsInput(outputName, inputName);
    m_input.start();
    const Encoding encoding = m_input.getEncoding();
    m_form = textFormOf(encoding);
    const bool addsMark = m_options.byteOrderMark && encoding == Encoding::Utf8;
    m_output.start(addsMark ? Encoding::Utf8WithBom : encoding);
    m_outputStarted = true;
  }

  void processLines() {
    bool lineWaiting = true;  // the first line was read during setup
    for (bool inputEnded = false; !inputEnded && !m_stoppedAtWarning;) {
      const std::optional<Failure> failure = failureOf([&] {
        if (!lineWaiting) {
          inputEnded = !readLine();
          if (inputEnded) return;
        }
        lineWaiting = false;
        processLine(m_input.paddedLine());
      });
      // The line's own failure first, then the output's, which did not end
      // the line: the records of all its tokens were taken.
      if (failure && !goesOnAfter(*failure, false)) break;
      if (m_output.hasFailure() && !goesOnAfter(m_output.takeFailure(), true)) break;
    }
    finish();
  }

  // Whether the run goes on with the next line after a failure of this one.
  bool goesOnAfter(const Failure& failure, bool ofOutput) {
    handOverStatus();  // the token that failed, if one did
    if (failure.endsRun() || (ofOutput && isGivenUp())) {
      endRun(failure, ofOutput);
      return false;
    }
    if (askAbout(failure)) return true;
    if (ofOutput) dropWhatWaits();
    return false;
  }

  // Both files are closed whatever happens. What the output could not take
  // is tried again as long as the answer is Yes; No leaves the gap-free
  // start that it holds.
  void finish() {
    handOverStatus();
    m_input.close();
    m_host.closingOutput();
    for (bool reported = false;;) {
      const std::optional<Failure> failure = failureOf([&] { m_output.close(); });
      if (!failure) return;
      if (failure->endsRun() || isGivenUp()) {
        endRun(*failure, true);
        return;
      }
      // Without a person the same report would only come again.
      if (reported && !m_host.asksAPerson()) continue;
      reported = true;
      if (!askAbout(*failure)) {
        dropWhatWaits();
        return;
      }
    }
  }

  bool isGivenUp() const {
    return !m_host.asksAPerson() && m_output.refusalsInARow() >= kRefusalsBeforeGivingUp;
  }

  void dropWhatWaits() {
    m_linesLeft = m_output.abandon().lines;
    m_host.outputIncomplete();
  }

  void tellCounts() {
    const std::uint64_t lines = m_linesLeft.value_or(m_output.linesTaken());
    m_counts.records = lines > 0 ? lines - 1 : 0;  // after the header
    m_host.runCounted(m_counts);
  }

  // Reads the next line; false at the end of the input.
  bool readLine() {
    m_reading = true;
    if (m_input.atEnd()) return false;
    m_input.readLine();
    m_reading = false;
    m_lineKept = false;
    m_host.lineRead(++m_lineNumber, m_input.bytesRead(), m_input.fileSize());
    // Lines without a recipient keep the front end alive as well, at a pace
    // of their own: the status of the first recipient is shown at once.
    if (m_linePacer.isDue()) {
      handOverStatus();
      checkKeepGoing();
    }
    return true;
  }

  // Out of the line loop, as what the options ask of a token is: the usual
  // run's loop stays as small as it was.
  [[gnu::noinline]] void chooseSeparator(std::string_view line) {
    if (IsBlank(line)) return;
    m_host.SetSeparator(separatorOfLine(line));
    m_separatorPending = false;
    m_host.separatorChosen(m_host.GetSeparator(), m_lineNumber);
  }

  void processLine(PaddedText paddedLine) {
    const std::string_view line = paddedLine.text();
    if (m_separatorPending) chooseSeparator(line);
    try {
      splitLine(line, m_host.GetSeparator(), m_tokens, kQuoteText, m_form);
    } catch (const Failure& failure) {
      // The tokenizer refuses the line: its warning, and nothing written.
      handOverStatus();
      warnOfRefusedLine(m_host, failure, m_lineNumber, line, m_form);
      m_stoppedAtWarning = !m_host.goOnAfterWarning();
      checkKeepGoing();
      return;
    }
    // The host's choices change only while it has control.
    m_unbuildChecked = m_host.IsUnbuildChecked();
    m_tokens.forEach([&](std::string_view token) { processToken(paddedLine.within(token)); });
  }

  // The reader is about to move the text of earlier lines: what a report or
  // a status still to come quotes is copied, as the front ends show it.
  void keepForReports() {
    if (!m_lineKept) {
      m_keptLine = shownText(m_input.line(), m_form);
      m_lineKept = true;
    }
    if (statusPending() && m_statusToken.data() != m_keptStatusToken.data()) {
      m_keptStatusToken.assign(m_statusToken);
      m_statusToken = m_keptStatusToken;
    }
  }

  void processToken(PaddedText token) {
    const PaddedText paddedTrimmed = token.trimmed();
    const std::string_view trimmed = paddedTrimmed.text();
    if (trimmed.empty()) return;
    if (m_tokenCounter == std::numeric_limits<std::int32_t>::max()) throw counterOverflow();
    ++m_tokenCounter;

    m_statusToken = headOf(trimmed, kStatusTokenMost, m_form);
    if (m_statusPacer.isDue()) {
      handOverStatus();
      checkKeepGoing();
      m_unbuildChecked = m_host.IsUnbuildChecked();
    }

    // The unpacker would trim the token first: the trimmed one gives the same record.
    if (m_unbuildChecked && m_forImport) {
      writeUnbuiltForImport(trimmed);
    } else if (m_unbuildChecked) {
      m_unbuild.write(trimmed, m_output, m_firstRecord, m_form);
    } else if (m_forImport) {
      writeForImport(paddedTrimmed);
    } else {
      writeToken(paddedTrimmed);
    }
  }

  void writeToken(PaddedText token) {
    // The usual token goes straight into the output's buffer, a whole block
    // at a time.
    static_assert(PaddedText::kReadablePast >= kBlockSize && LineRoom::kSize >= kBlockSize + 2);
    if (!m_firstRecord && m_output.hasLineRoom() && token.text().size() <= kBlockSize) {
      const LineRoom room = m_output.lineRoom();
      std::memcpy(room.begin(), token.text().data(), kBlockSize);
      m_output.endLine(room, token.text().size());
      return;
    }
    writeRecord(token.text(), kPlainHeader);
  }

  void writeRecord(std::string_view record, std::string_view header) {
    if (m_firstRecord) m_output.writeLine(header);
    m_firstRecord = false;
    m_output.writeLine(record);
  }

  [[gnu::noinline]] void writeForImport(PaddedText paddedToken) {
    const std::string_view token = paddedToken.text();
    if (m_options.unique && !m_addresses.insert(token)) {
      ++m_counts.duplicates;
      return;
    }
    if (m_options.countsWithoutAddress && token.find('@') == std::string_view::npos)
      ++m_counts.withoutAddress;
    if (!m_options.csv) {
      writeToken(paddedToken);
    } else if (!m_firstRecord && m_output.hasLineRoom() && csvRoomFor(token.size()) <= LineRoom::kSize) {
      const LineRoom room = m_output.lineRoom();
      m_output.endLine(room, static_cast<std::size_t>(writeCsvField(room.begin(), token) - room.begin()));
    } else {
      m_field.clear();
      appendCsvField(m_field, token);
      writeRecord(m_field, kPlainHeader);
    }
  }

  // The record line in parts: a line with one comma, from the short way or
  // the general one, is split there; one with more (a comma in the name)
  // needs the parts from the general way.
  [[gnu::noinline]] void writeUnbuiltForImport(std::string_view recipient) {
    const std::string_view line = m_unbuild.record(recipient, m_form);
    const std::size_t comma = line.find(',');
    const bool oneComma = line.find(',', comma + 1) == std::string_view::npos;
    UnbuildStep::General parts{{line.substr(0, comma)}, line.substr(comma + 1)};
    if (!oneComma) parts = m_unbuild.generalRecord(recipient, m_form);
    if (m_options.unique && !m_addresses.insert(parts.email)) {
      ++m_counts.duplicates;
      return;
    }
    if (parts.email.empty()) ++m_counts.withoutAddress;
    if (oneComma && !(m_options.csv && (needsCsvChange(parts.name.first) || needsCsvChange(parts.email)))) {
      writeRecord(line, kUnbuildHeader);
      return;
    }
    m_name.assign(parts.name.first);
    m_name += parts.name.blank;
    m_name += parts.name.last;
    m_field.clear();
    if (m_options.csv) {
      appendCsvField(m_field, m_name);
      m_field += ',';
      appendCsvField(m_field, parts.email);
    } else {
      ((m_field += m_name) += ',') += parts.email;
    }
    writeRecord(m_field, kUnbuildHeader);
  }

  void checkKeepGoing() {
    if (!m_host.keepGoing()) throw RunStopped{};
  }

  // The status text of the latest token, "12 - abc", when the host has not
  // had it yet. Out of the token loop, which it would crowd.
  [[gnu::noinline]] void handOverStatus() {
    if (!statusPending()) return;
    try {
      std::string text = std::to_string(m_tokenCounter);
      text += kStatusDash;
      text += shownText(m_statusToken, m_form);
      m_host.SetStatusText(text);
      m_host.RefreshStatus();
      m_statusShownFor = m_tokenCounter;
    } catch (const std::bad_alloc&) {
      // A status is not worth failing for.
    }
  }

  // Whether a token has come since the host's status was last set.
  bool statusPending() const { return m_tokenCounter != m_statusShownFor; }

  // The run report. An output that cannot take more is given up first, cut
  // back to its last whole line; the report then says what it holds, and so
  // it does for an output that holds the records taken so far.
  void endRun(const Failure& failure, bool givingUpOutput = false) {
    std::optional<TextWriter::Left> left;
    if (givingUpOutput || m_output.isGivenUp()) {
      left = m_output.abandon();
      m_linesLeft = left->lines;
    } else if (m_output.isOpen()) {
      left = TextWriter::Left{m_output.linesTaken(), false};
    }
    // No report may fail for want of memory: it then goes unsaid.
    try {
      std::string report = runReport(failure);
      if (left) report += outputHolds(*left);
      m_host.ShowMessage(report);
    } catch (const std::bad_alloc&) {
    }
  }

  std::string outputHolds(const TextWriter::Left& left) const {
    const std::uint64_t records = left.lines > 0 ? left.lines - 1 : 0;  // after the header
    std::string text = "\r\nThe output file \"" + shownText(m_outputName, TextForm::Utf8) + "\" holds ";
    text += records == 1 ? "1 record" : std::to_string(records) + " records";
    if (left.cutLine) text += ", then a cut line that could not be removed";
    return text + '.';
  }

  bool askAbout(const Failure& failure) {
    bool yes = false;
    try {
      yes = m_host.AskYesNo(lineReport(m_lineKept ? m_keptLine : shownText(m_input.line(), m_form), failure));
    } catch (const std::bad_alloc&) {
    }
    // A stop asked for while the question was up comes before the answer.
    checkKeepGoing();
    return yes;
  }

  Failure outOfMemoryHere() {
    try {
      const std::uint64_t line = m_lineNumber + (m_reading ? 1 : 0);
      return outOfMemory("line " + std::to_string(line) + " of the input file \"" +
                         shownText(m_inputName, TextForm::Utf8) + '"');
    } catch (const std::bad_alloc&) {
      return m_outOfMemory;
    }
  }

  static constexpr std::string_view kStatusDash = " - ";

  RunHost& m_host;
  TextReader m_input;
  TextWriter m_output;
  std::string m_inputName;
  std::string m_outputName;
  TextForm m_form = TextForm::Utf8;  // of the input's text, which the lines and tokens are parts of
  Failure m_outOfMemory = outOfMemory("the input file");  // made beforehand, for when nothing can be made
  std::uint64_t m_lineNumber = 0;
  std::int32_t m_tokenCounter = 0;
  bool m_firstRecord = false;
  bool m_unbuildChecked = false;  // the host's answer, asked again after every call to it
  bool m_stoppedAtWarning = false;
  bool m_reading = false;  // the next line, not the current one
  TokenList m_tokens;
  ProgressPacer m_statusPacer{m_host.statusInterval()};
  ProgressPacer m_linePacer{m_host.statusInterval()};
  std::int32_t m_statusShownFor = 0;  // the count of the token that the host's status shows
  std::string_view m_statusToken;     // in the current line, or in m_keptStatusToken
  std::string m_keptStatusToken;
  // The current line as reports show it, once the reader has moved it.
  std::string m_keptLine;
  bool m_lineKept = false;
  UnbuildStep m_unbuild;
  OutputOptions m_options;
  bool m_forImport = false;  // the options ask more of a token than to be written
  bool m_separatorPending = false;
  bool m_outputStarted = false;
  std::optional<std::uint64_t> m_linesLeft;  // what an abandoned output holds
  RunCounts m_counts;
  AddressSet m_addresses;
  std::string m_field;  // a record as the options make it
  std::string m_name;
};

}  // namespace

void ConversionRun(RunHost& host) {
  try {
    Run(host).execute();
  } catch (const std::bad_alloc&) {
    // Not even the run could be made.
  }
}

void DeleteFile(std::string_view FileName) {
  const std::string name(FileName);
  removeOldOutput(name, decideOutput(name));
}

std::string runReport(const Failure& failure) {
  return failure.description() + "(" + std::to_string(failure.number()) + ")";
}

std::string lineReport(std::string_view shownLine, const Failure& failure) {
  std::string report = "Error processing line: ";
  report += shownLine;
  report += "\r\nDescription: ";
  report += failure.description();
  report += "\r\nNumber: ";
  report += std::to_string(failure.number());
  return report;
}

}  // namespace tavrin
