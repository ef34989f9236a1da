#pragma once

// clang-format off
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>
// clang-format on

#include <functional>
#include <string>
#include <vector>

#include "engine/run_host.hpp"

namespace tavrin {

// The controls' numbers, as GetDlgItem finds them; none is IDOK or IDCANCEL,
// which the window's keyboard handling sends for Enter and Esc.
enum ControlId : int {
  Label1 = 100,
  txtInputFileName,
  cmdInputFile,
  Label2,
  txtOutputFileName,
  cmdOutputFile,
  Label3,
  txtSeparator,
  chkUnbuildMailTo,
  cmdProcess,
  cmdClose,
  StatusBar1,
};

// What the window asks of the system to show a message box and a file
// dialog: MessageBoxW, GetOpenFileNameW and GetSaveFileNameW, unless a test
// puts itself in their place.
struct Dialogs {
  std::function<int(HWND owner, const std::wstring& text, const std::wstring& title, UINT style)> messageBox;
  std::function<bool(OPENFILENAMEW& settings, bool save)> fileDialog;
};
Dialogs systemDialogs();

struct Control;

// The program's one window, made of Win32's own controls. It holds the
// user's choices for a conversion, starts the run with Process and serves the
// run as its host.
class FrmTavrin final : public RunHost {
 public:
  explicit FrmTavrin(Dialogs dialogs = systemDialogs());
  ~FrmTavrin() override;
  FrmTavrin(const FrmTavrin&) = delete;
  FrmTavrin& operator=(const FrmTavrin&) = delete;

  HWND frmTavrin() const { return m_window; }
  void show();
  // The message loop's part: keyboard navigation (Tab, Enter, Esc). True
  // when the message was handled here.
  bool translate(MSG& message);

  std::string GetSeparator() override;
  void SetSeparator(std::string_view text) override;
  std::string GetInputFileName() override;
  std::string GetOutputFileName() override;
  bool IsUnbuildChecked() override;
  std::chrono::steady_clock::duration statusInterval() override;
  void SetStatusText(std::string_view text) override;
  void RefreshStatus() override;
  void ShowMessage(std::string_view text) override;
  bool AskYesNo(std::string_view text) override;
  void ShowWarning(std::string_view text, std::string_view title) override;
  bool asksAPerson() override { return true; }
  bool keepGoing() override;

 private:
  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  HWND item(ControlId id) const { return GetDlgItem(m_window, id); }
  void createControls();
  void layOut(UINT dpi);
  HFONT fontFitting(HWND control, const Control& c, UINT dpi);
  void onCommand(int id, int notification);
  void cmdInputFileClick();
  void cmdOutputFileClick();
  void cmdProcessClick();
  bool showFileDialog(bool save, ControlId box);
  void onDrop(HDROP drop);
  void showStatus();
  int showBox(std::string_view text, std::string_view title, UINT style);
  // Keys, clicks and drops for this window while a run goes on.
  bool isInputDuringRun(const MSG& message) const;

  Dialogs m_dialogs;
  HWND m_window = nullptr;
  // The controls' fonts at the dots per inch laid out for: the system's
  // message font first, then the narrowed ones.
  std::vector<HFONT> m_fonts;
  // The path of the last file chosen in a dialog, proposed in the next one.
  std::vector<wchar_t> CommonDialog1;
  // The run hands over a status text once a frame, and the latest before
  // each message box and at its end.
  std::string m_statusText;
  // The separator box's text, kept current as it changes: the run asks for it
  // before every line.
  std::string m_separator = ",";
  bool m_running = false;
  bool m_closeRequested = false;  // during the run, which stops for it
};

}  // namespace tavrin
