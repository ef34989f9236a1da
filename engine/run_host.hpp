#pragma once

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

  // Called once for every non-blank token, so a host should keep this cheap
  // and show the text at its own pace; RefreshStatus follows every call.
  virtual void SetStatusText(std::string_view text) = 0;
  virtual void RefreshStatus() = 0;

  virtual void ShowMessage(std::string_view text) = 0;
  // True for yes (the default button), false for No.
  virtual bool AskYesNo(std::string_view text) = 0;
  virtual void ShowWarning(std::string_view text, std::string_view title) = 0;

  // How much of the input has been read, after every line: bytesTotal is 0
  // when the size is not known (a pipe). Hosts that show no share ignore it.
  virtual void inputRead(std::uint64_t bytesRead, std::uint64_t bytesTotal) {
    (void)bytesRead;
    (void)bytesTotal;
  }
};

}  // namespace tavrin
