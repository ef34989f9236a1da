#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/platform.hpp"

namespace tavrin {

// What an output is made for beyond the records themselves: the tools that
// import it. All off, the output is the records as they are.
struct OutputOptions {
  bool separatorFromInput =
      false;                   // ";" when the first line that is not blank has one outside quotes, else ","
  bool csv = false;            // fields quoted as CSV wants, and none that a spreadsheet takes for a formula
  bool unique = false;         // a record whose address came before, in any letter case, is left out
  bool byteOrderMark = false;  // a UTF-8 output starts with one
  bool countsWithoutAddress = false;  // RunCounts::withoutAddress is wanted
};

// What a run wrote, told at its end when it had opened its output.
struct RunCounts {
  std::uint64_t records = 0;         // the records that the output holds
  std::uint64_t duplicates = 0;      // records left out as repeated addresses
  std::uint64_t withoutAddress = 0;  // plain: tokens without an @; unbuild: records with an empty address
};

// The front end's side of a conversion run. The run reads the user's choices
// and reports to the user through these operations only; it never keeps what
// they return between calls.
class RunHost {
 public:
  virtual ~RunHost() = default;

  virtual std::string GetSeparator() = 0;
  virtual void SetSeparator(std::string_view text) = 0;
  virtual std::string GetInputFileName() = 0;
  virtual std::string GetOutputFileName() = 0;
  virtual bool IsUnbuildChecked() = 0;

  // How often the host shows a new status text. A run counts millions of
  // tokens a second, so it hands over the text of a token only when this long
  // has passed since it handed over the last one, and the latest text always
  // before a message box and at its end. Zero (the default) is every text.
  virtual std::chrono::steady_clock::duration statusInterval() { return {}; }
  // RefreshStatus follows every SetStatusText.
  virtual void SetStatusText(std::string_view text) = 0;
  virtual void RefreshStatus() = 0;

  virtual void ShowMessage(std::string_view text) = 0;
  // True for yes (the default button), false for No.
  virtual bool AskYesNo(std::string_view text) = 0;
  virtual void ShowWarning(std::string_view text, std::string_view title) = 0;

  // Whether a person answers AskYesNo. A person may answer Yes to an output
  // that refuses data as often as they like; an automatic answer is given up
  // on after a few refusals in a row.
  virtual bool asksAPerson() { return false; }
  // Asked after each warning: false ends the run there, as No to a line
  // report does.
  virtual bool goOnAfterWarning() { return true; }
  // Called after the status was handed over at the pace of statusInterval,
  // and every tenth of a second while a pipe or a device keeps the run
  // waiting, so that the host may handle its requests meanwhile. False stops
  // the run at once, and the output that it created is removed.
  virtual bool keepGoing() { return true; }
  // The run writes the last of its output now: a question that follows is
  // about writing that again, not about the next line.
  virtual void closingOutput() {}
  // The run ended with an output that lacks lines it took: the output
  // refused them, and the answer was to stop.
  virtual void outputIncomplete() {}

  virtual OutputOptions outputOptions() { return {}; }
  // The separator that the run took from line `lineNumber` of the input,
  // with separatorFromInput; GetSeparator gives it from now on.
  virtual void separatorChosen(std::string_view separator, std::uint64_t lineNumber) {
    (void)separator;
    (void)lineNumber;
  }
  virtual void runCounted(const RunCounts& counts) { (void)counts; }

  // A handle that the host already holds for the input or the output
  // (standard input or output), or kNoFile to open the file by its name. The
  // run reads or writes it as it stands: it is neither deleted nor emptied.
  virtual FileHandle inheritedInput() { return kNoFile; }
  virtual FileHandle inheritedOutput() { return kNoFile; }

  // After every line read: its number (from 1) and how much of the input has
  // been read; bytesTotal is 0 when the size is not known (a pipe). Hosts
  // that show neither ignore it.
  virtual void lineRead(std::uint64_t lineNumber, std::uint64_t bytesRead, std::uint64_t bytesTotal) {
    (void)lineNumber;
    (void)bytesRead;
    (void)bytesTotal;
  }
};

}  // namespace tavrin
