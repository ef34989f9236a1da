#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace tavrin {

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

  // A descriptor that the host already holds for the input or the output
  // (standard input or output), or -1 to open the file by its name. The run
  // reads or writes it as it stands: it is neither deleted nor emptied.
  virtual int inheritedInput() { return -1; }
  virtual int inheritedOutput() { return -1; }

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
