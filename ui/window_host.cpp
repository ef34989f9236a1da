#include "ui/window_host.hpp"

#include "engine/conversion_run.hpp"
#include "engine/shown_text.hpp"
#include "engine/text.hpp"
#include "ui/stored_design.hpp"
#include "version.hpp"

namespace tavrin {

namespace {

using namespace std::chrono_literals;

// One display frame: the status bar is not painted more often than this.
constexpr auto kFrameTime = 16ms;
// The panel shows one short line; a token can be as long as its input line.
constexpr std::size_t kPanelTextMax = 1000;

}  // namespace

WindowHost::WindowHost() : m_separator(storedControl("txtSeparator").caption) {}

std::string WindowHost::GetSeparator() {
  return m_separator;
}

std::chrono::steady_clock::duration WindowHost::statusInterval() {
  return kFrameTime;
}

void WindowHost::SetStatusText(std::string_view text) {
  m_statusText.assign(text);
}

void WindowHost::RefreshStatus() {
  showStatus();
}

void WindowHost::showStatus() {
  showPanel(headOf(m_statusText, kPanelTextMax, TextForm::Utf8));
}

void WindowHost::ShowMessage(std::string_view text) {
  showStatus();
  showBox(Box::Message, kProductName, text);
}

bool WindowHost::AskYesNo(std::string_view text) {
  showStatus();
  return showBox(Box::Question, kProductName, text);
}

void WindowHost::ShowWarning(std::string_view text, std::string_view title) {
  showStatus();
  showBox(Box::Warning, title, text);
}

void WindowHost::refuseFileName(std::string_view name, bool fromDialog) {
  std::string text = "The file \"" + shownText(name, TextForm::Utf8) + "\" is left out: ";
  text += fromDialog ? "the file dialog shows every byte of a name that is not UTF-8 text as U+FFFD, so the "
                       "window cannot tell which file was meant."
                     : "its name is not UTF-8 text, which the window's text boxes cannot hold.";
  text += "\r\nRename the file, or give it to tavrin-cli, which takes any name.";
  showBox(Box::Warning, kProductName, text);
}

bool WindowHost::keepGoing() {
  handlePendingEvents();
  return !m_closeRequested;
}

void WindowHost::cmdProcessClick() {
  // A click that reaches the button from inside one of the run's message boxes
  // must not start a second run.
  if (m_running) return;
  m_running = true;
  dropInput(true);
  ConversionRun(*this);
  handlePendingEvents();  // input that came at the end is dropped too
  dropInput(false);
  m_running = false;
  showStatus();
  if (m_closeRequested) closeNow();
}

bool WindowHost::closeWaitsForRun() {
  if (m_running) m_closeRequested = true;
  return m_running;
}

}  // namespace tavrin
