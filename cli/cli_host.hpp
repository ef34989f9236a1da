#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "cli/asking_terminal.hpp"
#include "cli/cli.hpp"
#include "cli/options.hpp"
#include "engine/run_host.hpp"

namespace tavrin {

// The terminal's side of a run: the options stand in for the window's fields,
// standard error for its message boxes and status bar.
class CliHost final : public RunHost {
 public:
  CliHost(const Options& options, LineErrorPolicy policy, AskingTerminal& terminal, std::ostream& err,
          const Inherited& inherited, FileHandle input, FileHandle output)
      : m_separator(options.separator == kSeparatorFromInput ? std::string(kDefaultSeparator)
                                                             : options.separator),
        m_inputName(options.files[0]),
        m_outputName(options.files[1]),
        m_unbuild(options.unbuild),
        m_outputOptions{.separatorFromInput = options.separator == kSeparatorFromInput,
                        .csv = options.csv,
                        .unique = options.unique,
                        .byteOrderMark = options.byteOrderMark},
        m_policy(policy),
        m_terminal(terminal),
        m_err(err),
        m_inherited(inherited),
        m_input(input),
        m_output(output),
        m_showProgress(inherited.errorTerminal != kNoFile && !options.quiet && !isOutputOnErrorTerminal()),
        m_summary(options.summary || m_showProgress) {
    m_outputOptions.countsWithoutAddress = m_summary;
  }

  std::string GetSeparator() override { return m_separator; }
  void SetSeparator(std::string_view text) override { m_separator = text; }
  std::string GetInputFileName() override { return m_inputName; }
  std::string GetOutputFileName() override { return m_outputName; }
  bool IsUnbuildChecked() override { return m_unbuild; }
  FileHandle inheritedInput() override { return m_input; }
  FileHandle inheritedOutput() override { return m_output; }
  OutputOptions outputOptions() override { return m_outputOptions; }
  void separatorChosen(std::string_view separator, std::uint64_t lineNumber) override;
  void runCounted(const RunCounts& counts) override { m_counts = counts; }

  void SetStatusText(std::string_view text) override {
    if (m_showProgress) m_status = text;
  }
  // The run hands over a new text at this pace; without progress only the
  // texts before a message and at the end come.
  std::chrono::steady_clock::duration statusInterval() override {
    return m_showProgress ? std::chrono::milliseconds(100) : std::chrono::steady_clock::duration::max();
  }
  void RefreshStatus() override {
    if (m_showProgress) drawProgress();
  }
  void lineRead(std::uint64_t lineNumber, std::uint64_t bytesRead, std::uint64_t bytesTotal) override {
    m_lineNumber = lineNumber;
    m_bytesRead = bytesRead;
    m_bytesTotal = bytesTotal;
  }

  void ShowMessage(std::string_view text) override {
    m_runReported = true;
    say(text);
  }
  bool asksAPerson() override { return m_policy == LineErrorPolicy::Ask; }
  bool AskYesNo(std::string_view text) override;
  void ShowWarning(std::string_view text, std::string_view title) override {
    m_troubleReported = true;
    sayAboutLine(std::string(title) + ": " + std::string(text));
  }
  bool goOnAfterWarning() override { return m_policy != LineErrorPolicy::Stop; }
  void closingOutput() override { m_closing = true; }
  void outputIncomplete() override { m_outputIncomplete = true; }

  // Clears the progress line and, when it is wanted, says what the run wrote.
  void finish();
  int exitStatus() const { return m_runReported || m_outputIncomplete ? 2 : m_troubleReported ? 1 : 0; }

 private:
  // The progress line and the output would mix on one terminal.
  bool isOutputOnErrorTerminal() const;

  void say(std::string_view text);

  // FILE:LINE: in front, as compilers and GNU tools write it.
  void sayAboutLine(std::string_view text);

  int columns() const;

  // One frame of the progress line, fitted to the terminal so that it is
  // rewritten in place: the token is cut, never the count.
  void drawProgress();

  void clearProgress();

  std::string m_separator;
  std::string m_inputName;
  std::string m_outputName;
  bool m_unbuild;
  OutputOptions m_outputOptions;
  std::optional<RunCounts> m_counts;
  std::uint64_t m_linesReported = 0;
  LineErrorPolicy m_policy;
  AskingTerminal& m_terminal;
  std::ostream& m_err;
  const Inherited& m_inherited;
  FileHandle m_input;
  FileHandle m_output;
  bool m_showProgress;
  bool m_summary;
  std::string m_status;
  std::uint64_t m_lineNumber = 0;
  std::uint64_t m_bytesRead = 0;
  std::uint64_t m_bytesTotal = 0;
  int m_progressWidth = -1;  // the columns that the progress line covers; -1 when none is shown
  bool m_closing = false;
  bool m_runReported = false;
  bool m_troubleReported = false;
  bool m_outputIncomplete = false;
};

}  // namespace tavrin
