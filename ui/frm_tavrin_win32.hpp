#pragma once

// clang-format off
#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>
// clang-format on

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/stored_design.hpp"
#include "ui/window_host.hpp"

namespace tavrin {

// The controls' numbers, as GetDlgItem finds them: their places in the
// stored design from 100 on, so that none is IDOK or IDCANCEL, which the
// window's keyboard handling sends for Enter and Esc.
constexpr int controlId(std::string_view name) {
  return 100 + static_cast<int>(designIndex(name));
}
enum ControlId : int {
  Label1 = controlId("Label1"),
  txtInputFileName = controlId("txtInputFileName"),
  cmdInputFile = controlId("cmdInputFile"),
  Label2 = controlId("Label2"),
  txtOutputFileName = controlId("txtOutputFileName"),
  cmdOutputFile = controlId("cmdOutputFile"),
  Label3 = controlId("Label3"),
  txtSeparator = controlId("txtSeparator"),
  chkUnbuildMailTo = controlId("chkUnbuildMailTo"),
  cmdProcess = controlId("cmdProcess"),
  cmdClose = controlId("cmdClose"),
  StatusBar1 = controlId("StatusBar1"),
};

// What the window asks of the system to show a message box and a file
// dialog: MessageBoxW, GetOpenFileNameW and GetSaveFileNameW, unless a test
// puts itself in their place.
struct Dialogs {
  std::function<int(HWND owner, const std::wstring& text, const std::wstring& title, UINT style)> messageBox;
  std::function<bool(OPENFILENAMEW& settings, bool save)> fileDialog;
};
Dialogs systemDialogs();

// The program's one window, made of Win32's own controls. It holds the
// user's choices for a conversion, starts the run with Process and serves the
// run as its host.
class FrmTavrin final : public WindowHost {
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

  void SetSeparator(std::string_view text) override;
  std::string GetInputFileName() override;
  std::string GetOutputFileName() override;
  bool IsUnbuildChecked() override;

 private:
  static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  HWND item(int id) const { return GetDlgItem(m_window, id); }
  void createControls();
  void createControl(const StoredControl& c, bool accessibility);
  void layOut(UINT dpi);
  HFONT fontFitting(HWND control, const StoredControl& c, UINT dpi);
  void onCommand(int id, int notification);
  void cmdInputFileClick();
  void cmdOutputFileClick();
  bool showFileDialog(bool save, ControlId box);
  void onDrop(HDROP drop);
  void showPanel(std::string_view text) override;
  bool showBox(Box box, std::string_view title, std::string_view text) override;
  std::string fittedBoxText(std::string_view text) const;
  void watchBox(HWND box);
  static LRESULT CALLBACK boxProcedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR self);
  void handlePendingEvents() override;
  void dropInput(bool drop) override;
  void closeNow() override;
  // Keys, clicks and drops for this window while a run goes on.
  bool isInputDuringRun(const MSG& message) const;

  Dialogs m_dialogs;
  HWND m_window = nullptr;
  // The controls' fonts at the dots per inch laid out for: the system's
  // message font first, then the narrowed ones.
  std::vector<HFONT> m_fonts;
  // The path of the last file chosen in a dialog, proposed in the next one.
  std::vector<wchar_t> CommonDialog1;
};

}  // namespace tavrin
