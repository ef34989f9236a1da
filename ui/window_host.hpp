#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <utility>

#include "engine/run_host.hpp"

namespace tavrin {

// What the window does as a run's host on every system: how often it shows
// the status, how much of it, the separator it hands the run, and how a close
// request waits for a running conversion. The window's toolkit does the
// rest: its controls, its message boxes and its events.
class WindowHost : public RunHost {
 public:
  std::string GetSeparator() final;
  std::chrono::steady_clock::duration statusInterval() final;
  void SetStatusText(std::string_view text) final;
  void RefreshStatus() final;
  void ShowMessage(std::string_view text) final;
  bool AskYesNo(std::string_view text) final;
  void ShowWarning(std::string_view text, std::string_view title) final;
  bool asksAPerson() final { return true; }
  bool keepGoing() final;

 protected:
  WindowHost();

  enum class Box { Message, Question, Warning };

  // The click on Process: a conversion run with this window as its host,
  // unless one is going on already.
  void cmdProcessClick();
  // A close request during a run stops the run, which removes the output it
  // created; the window closes once the run has ended. True when the request
  // waits for that.
  bool closeWaitsForRun();
  bool running() const { return m_running; }
  // The separator box's text, kept current as it changes: the run asks for
  // it before every line.
  void separatorChanged(std::string text) { m_separator = std::move(text); }
  // A file name from a drop or a dialog that a text box cannot hold as it
  // is (`name`, its bytes as far as the window knows them) is left out, and
  // the user is told why; it is never turned into another name.
  void refuseFileName(std::string_view name, bool fromDialog);

 private:
  // Sets the status bar's panel and paints it at once, although the run
  // holds the thread.
  virtual void showPanel(std::string_view text) = 0;
  // A modal message box over the window; true when its answer is Yes.
  virtual bool showBox(Box box, std::string_view title, std::string_view text) = 0;
  // What the window system asks of the window while a run holds the thread
  // (paint, a close request); what the user does is dropped.
  virtual void handlePendingEvents() = 0;
  // From true to false, the window takes no input but the answers to the
  // run's message boxes.
  virtual void dropInput(bool drop) = 0;
  virtual void closeNow() = 0;

  void showStatus();

  // The run hands over a status text once a frame, and the latest before
  // each message box and at its end.
  std::string m_statusText;
  std::string m_separator;
  bool m_running = false;
  bool m_closeRequested = false;  // during the run, which stops for it
};

}  // namespace tavrin
