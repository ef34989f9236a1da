#include "ui/frm_tavrin_win32.hpp"

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <string_view>

#include "ui/box_text.hpp"
#include "version.hpp"

namespace tavrin {

namespace {

constexpr wchar_t kWindowClass[] = L"frmTavrin";
// The longest path a dialog takes, in UTF-16 units.
constexpr std::size_t kLongestPath = 32768;

// The Win32 control that stands for a kind of control of the design.
struct Win32Control {
  const wchar_t* windowClass;
  DWORD style;
  DWORD exStyle;
};

Win32Control win32Control(ControlKind kind) {
  switch (kind) {
    case ControlKind::Label:
      return {L"STATIC", SS_LEFT, 0};
    case ControlKind::TextBox:
      return {L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case ControlKind::CheckBox:
      return {L"BUTTON", WS_TABSTOP | BS_AUTOCHECKBOX, 0};
    case ControlKind::Button:
      return {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, 0};
    case ControlKind::StatusBar:
      // Placed as drawn, not where the status bar would put itself.
      return {STATUSCLASSNAMEW, CCS_NORESIZE | CCS_NOPARENTALIGN, 0};
  }
  return {};
}

// Fixed size, caption and close box only.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES;

// Laid out at the system's dots per inch: 15 twips make a pixel at 96.
int pixels(int twips, UINT dpi) {
  return MulDiv(twips, static_cast<int>(dpi), kTwipsPerInch);
}

// The window's outer size that gives the design's client area at `dpi`, in
// the frame that the system draws at the window's own dots per inch.
SIZE frameSize(HWND window, UINT dpi) {
  RECT frame{0, 0, pixels(kClientTwips.width, dpi), pixels(kClientTwips.height, dpi)};
  AdjustWindowRectExForDpi(&frame, kStyle, FALSE, kExStyle, GetDpiForWindow(window));
  return {frame.right - frame.left, frame.bottom - frame.top};
}

// The width that a control leaves its caption, in the font selected into
// `context`: half an average character on either side of it, within a
// button's frame or beside a check box's mark.
int captionRoom(const StoredControl& c, HDC context, UINT dpi) {
  int room = pixels(c.twips.width, dpi);
  if (c.kind != ControlKind::Button && c.kind != ControlKind::CheckBox) return room;
  TEXTMETRICW metrics{};
  GetTextMetricsW(context, &metrics);
  room -= metrics.tmAveCharWidth;
  if (c.kind == ControlKind::CheckBox) return room - GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi);
  return room - 2 * GetSystemMetricsForDpi(SM_CXEDGE, dpi);
}

// Texts are UTF-8 inside the program; what it shows of the input is made
// UTF-8 by shownText, whatever the input's bytes.
std::wstring wide(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring converted(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, converted.data(), units);
  return converted;
}

std::string utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string converted(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, converted.data(), bytes, nullptr, nullptr);
  return converted;
}

std::wstring textOf(HWND control) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

// The folder that holds the program's own file.
std::wstring programFolder() {
  std::wstring path(kLongestPath, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path.substr(0, path.find_last_of(L"\\/"));
}

// Names for screen readers, where the caption is not the name.
void nameForScreenReaders(HWND control, const wchar_t* name) {
  IAccPropServices* services = nullptr;
  if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                              reinterpret_cast<void**>(&services)))) {
    return;
  }
  services->SetHwndPropStr(control, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_NAME, name);
  services->Release();
}

}  // namespace

Dialogs systemDialogs() {
  return {[](HWND owner, const std::wstring& text, const std::wstring& title, UINT style) {
            return MessageBoxW(owner, text.c_str(), title.c_str(), style);
          },
          [](OPENFILENAMEW& settings, bool save) {
            return (save ? GetSaveFileNameW(&settings) : GetOpenFileNameW(&settings)) != 0;
          }};
}

FrmTavrin::FrmTavrin(Dialogs dialogs) : m_dialogs(std::move(dialogs)), CommonDialog1(kLongestPath, L'\0') {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  static const ATOM windowClass = [instance] {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    WNDCLASSEXW description{};
    description.cbSize = sizeof description;
    description.lpfnWndProc = windowProcedure;
    description.hInstance = instance;
    description.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    description.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    description.lpszClassName = kWindowClass;
    description.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    description.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                        GetSystemMetrics(SM_CXSMICON),
                                                        GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    return RegisterClassExW(&description);
  }();
  (void)windowClass;

  m_window = CreateWindowExW(kExStyle, kWindowClass, wide(kProductName).c_str(), kStyle, 0, 0, 0, 0, nullptr,
                             nullptr, instance, this);
  createControls();
  // Laid out at the dots per inch of the monitor it starts on, and centred on
  // that screen's free area.
  const UINT dpi = GetDpiForWindow(m_window);
  layOut(dpi);
  const SIZE size = frameSize(m_window, dpi);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(m_window, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT& free = monitor.rcWork;
  SetWindowPos(m_window, nullptr, free.left + (free.right - free.left - size.cx) / 2,
               free.top + (free.bottom - free.top - size.cy) / 2, size.cx, size.cy,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

FrmTavrin::~FrmTavrin() {
  if (m_window != nullptr) DestroyWindow(m_window);
  for (const HFONT font : m_fonts) DeleteObject(font);
}

void FrmTavrin::createControls() {
  const bool accessibility = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  // Created in the order of Tab (among the controls that take the focus),
  // each label just before its box, where screen readers look for a box's
  // name.
  for (const StoredControl& c : inTabOrder()) {
    if (!c.labelled.empty()) continue;
    if (const StoredControl* label = labelOf(c.name)) createControl(*label, accessibility);
    createControl(c, accessibility);
  }
}

void FrmTavrin::createControl(const StoredControl& c, bool accessibility) {
  const Win32Control kind = win32Control(c.kind);
  const HWND control = CreateWindowExW(
      kind.exStyle, kind.windowClass, wide(c.caption).c_str(), WS_CHILD | WS_VISIBLE | kind.style, 0, 0, 0, 0,
      m_window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(controlId(c.name))), nullptr, nullptr);
  if (accessibility && !namedByCaption(c)) nameForScreenReaders(control, wide(c.accessibleName).c_str());
  // No limit on length: the system's own would cut texts at 32767 characters.
  if (c.kind == ControlKind::TextBox) SendMessageW(control, EM_SETLIMITTEXT, 0, 0);
  if (c.kind == ControlKind::StatusBar) {
    const int wholeBar = -1;
    SendMessageW(control, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&wholeBar));
  }
}

// The controls where the design puts them at `dpi`, each in the font of the
// system's messages at `dpi`.
void FrmTavrin::layOut(UINT dpi) {
  const std::vector<HFONT> previous = std::move(m_fonts);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
  m_fonts = {CreateFontIndirectW(&metrics.lfMessageFont)};
  for (const StoredControl& c : kStoredDesign) {
    const HWND control = item(controlId(c.name));
    MoveWindow(control, pixels(c.twips.left, dpi), pixels(c.twips.top, dpi), pixels(c.twips.width, dpi),
               pixels(c.twips.height, dpi), FALSE);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fontFitting(control, c, dpi)), FALSE);
  }
  InvalidateRect(m_window, nullptr, TRUE);
  for (const HFONT font : previous) DeleteObject(font);
}

// The sample recipient is the longest caption: in a font wider than the one
// the design was drawn for, a caption is narrowed until it fits, measured
// again in each narrower font, whose rounding may keep it wider than asked.
// A box's text is the user's, in the font as it is.
HFONT FrmTavrin::fontFitting(HWND control, const StoredControl& c, UINT dpi) {
  const HFONT font = m_fonts.front();
  if (c.kind == ControlKind::TextBox) return font;
  const std::wstring caption = wide(c.caption);
  const HDC context = GetDC(control);
  const HGDIOBJ original = SelectObject(context, font);
  HFONT fitting = font;
  LOGFONTW narrowed{};
  GetObjectW(font, sizeof narrowed, &narrowed);
  for (;;) {
    SIZE size{};
    GetTextExtentPoint32W(context, caption.c_str(), static_cast<int>(caption.size()), &size);
    const int room = captionRoom(c, context, dpi);
    if (size.cx <= room || narrowed.lfWidth == 1) break;
    TEXTMETRICW metrics{};
    GetTextMetricsW(context, &metrics);
    const LONG width = narrowed.lfWidth != 0 ? narrowed.lfWidth : metrics.tmAveCharWidth;
    narrowed.lfWidth = std::max<LONG>(1, std::min<LONG>(width - 1, MulDiv(width, room, size.cx)));
    const HFONT narrower = CreateFontIndirectW(&narrowed);
    SelectObject(context, narrower);
    if (fitting != font) DeleteObject(fitting);
    fitting = narrower;
  }
  SelectObject(context, original);
  ReleaseDC(control, context);
  if (fitting != font) m_fonts.push_back(fitting);
  return fitting;
}

void FrmTavrin::show() {
  ShowWindow(m_window, SW_SHOWNORMAL);
  UpdateWindow(m_window);
  SetFocus(item(txtInputFileName));
}

bool FrmTavrin::translate(MSG& message) {
  return IsDialogMessageW(m_window, &message) != 0;
}

LRESULT CALLBACK FrmTavrin::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<FrmTavrin*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->m_window = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<FrmTavrin*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  return self != nullptr ? self->handle(message, wParam, lParam)
                         : DefWindowProcW(window, message, wParam, lParam);
}

LRESULT FrmTavrin::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      onCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_DROPFILES:
      onDrop(reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_DPICHANGED: {
      // Moved to a monitor of another scaling: laid out again for it, where
      // the system proposes.
      const UINT dpi = HIWORD(wParam);
      const auto* proposed = reinterpret_cast<const RECT*>(lParam);
      layOut(dpi);
      const SIZE size = frameSize(m_window, dpi);
      SetWindowPos(m_window, nullptr, proposed->left, proposed->top, size.cx, size.cy,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_CLOSE:
      if (!closeWaitsForRun()) DestroyWindow(m_window);
      return 0;
    case WM_SYSCOMMAND:
      // The taskbar's close reaches the window while a run's box keeps it
      // disabled, which the system's own handling would take for no request.
      if ((wParam & 0xFFF0) == SC_CLOSE && closeWaitsForRun()) return 0;
      return DefWindowProcW(m_window, message, wParam, lParam);
    case WM_ACTIVATE:
      // A run's box takes the activation from the window that owns it.
      if (running() && LOWORD(wParam) == WA_INACTIVE && lParam != 0 &&
          GetWindow(reinterpret_cast<HWND>(lParam), GW_OWNER) == m_window)
        watchBox(reinterpret_cast<HWND>(lParam));
      return DefWindowProcW(m_window, message, wParam, lParam);
    case WM_DESTROY:
      SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
      m_window = nullptr;
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(m_window, message, wParam, lParam);
  }
}

void FrmTavrin::onCommand(int id, int notification) {
  switch (id) {
    case IDOK: {
      // Enter presses the button that has the focus, and nothing else: no
      // button is the default one.
      const HWND focus = GetFocus();
      for (const ControlId button : {cmdInputFile, cmdOutputFile, cmdProcess, cmdClose})
        if (focus == item(button)) SendMessageW(focus, BM_CLICK, 0, 0);
      return;
    }
    case txtSeparator:
      if (notification == EN_CHANGE) separatorChanged(utf8(textOf(item(txtSeparator))));
      return;
    case cmdInputFile:
      if (notification == BN_CLICKED) cmdInputFileClick();
      return;
    case cmdOutputFile:
      if (notification == BN_CLICKED) cmdOutputFileClick();
      return;
    case cmdProcess:
      if (notification == BN_CLICKED) cmdProcessClick();
      return;
    case cmdClose:
      if (notification == BN_CLICKED) PostMessageW(m_window, WM_CLOSE, 0, 0);
      return;
    default:
      return;  // Esc (IDCANCEL) closes nothing
  }
}

void FrmTavrin::cmdInputFileClick() {
  showFileDialog(false, txtInputFileName);
}

void FrmTavrin::cmdOutputFileClick() {
  showFileDialog(true, txtOutputFileName);
}

bool FrmTavrin::showFileDialog(bool save, ControlId box) {
  const std::wstring folder = programFolder();
  // One entry, which lists text and CSV files only.
  static constexpr wchar_t kFilter[] = L"Text files (*.txt;*.csv)\0*.txt;*.csv\0";
  OPENFILENAMEW settings{};
  settings.lStructSize = sizeof settings;
  settings.hwndOwner = m_window;
  settings.lpstrFilter = kFilter;
  settings.nFilterIndex = 1;
  // The last chosen path, proposed again; a cancel leaves it as it was.
  std::vector<wchar_t> fileName = CommonDialog1;
  settings.lpstrFile = fileName.data();
  settings.nMaxFile = static_cast<DWORD>(fileName.size());
  settings.lpstrInitialDir = folder.c_str();
  settings.Flags = OFN_EXPLORER | OFN_NOCHANGEDIR | (save ? OFN_OVERWRITEPROMPT : 0);
  if (!m_dialogs.fileDialog(settings, save)) return false;
  CommonDialog1 = fileName;
  SetWindowTextW(item(box), CommonDialog1.data());
  return true;
}

void FrmTavrin::onDrop(HDROP drop) {
  // A file dropped on a path box replaces its path; dropped anywhere else it
  // is the input.
  POINT point{};
  DragQueryPoint(drop, &point);
  const HWND target = ChildWindowFromPointEx(m_window, point, CWP_SKIPINVISIBLE);
  const HWND box = target == item(txtOutputFileName) ? target : item(txtInputFileName);
  std::wstring path(static_cast<std::size_t>(DragQueryFileW(drop, 0, nullptr, 0)) + 1, L'\0');
  path.resize(DragQueryFileW(drop, 0, path.data(), static_cast<UINT>(path.size())));
  DragFinish(drop);
  if (!path.empty()) SetWindowTextW(box, path.c_str());
}

bool FrmTavrin::isInputDuringRun(const MSG& message) const {
  const bool input = (message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST) ||
                     message.message == WM_KEYDOWN || message.message == WM_KEYUP ||
                     message.message == WM_CHAR || message.message == WM_DEADCHAR ||
                     message.message == WM_DROPFILES;
  return input && (message.hwnd == m_window || IsChild(m_window, message.hwnd));
}

void FrmTavrin::handlePendingEvents() {
  // Paint, timers and the close box are handled, so that the window stays
  // alive; keys, clicks and drops are dropped, not kept for later. System
  // keys (Alt+F4) and the frame's own clicks go through.
  for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (isInputDuringRun(message)) {
      if (message.message == WM_DROPFILES) DragFinish(reinterpret_cast<HDROP>(message.wParam));
      continue;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void FrmTavrin::dropInput(bool) {
  // Nothing to do: handlePendingEvents drops the input as it comes.
}

void FrmTavrin::closeNow() {
  DestroyWindow(m_window);
}

void FrmTavrin::SetSeparator(std::string_view text) {
  SetWindowTextW(item(txtSeparator), wide(text).c_str());
}

std::string FrmTavrin::GetInputFileName() {
  return utf8(textOf(item(txtInputFileName)));
}

std::string FrmTavrin::GetOutputFileName() {
  return utf8(textOf(item(txtOutputFileName)));
}

bool FrmTavrin::IsUnbuildChecked() {
  return SendMessageW(item(chkUnbuildMailTo), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void FrmTavrin::showPanel(std::string_view text) {
  SendMessageW(item(StatusBar1), SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(wide(text).c_str()));
  // Painted at once, although the run holds the thread.
  UpdateWindow(item(StatusBar1));
}

// The box's text, fitted to the free area of the window's monitor (see
// fitBoxText), in the font of the system's message boxes. A box breaks its
// lines at a width of its own, which in Wine's is 44 average characters, and
// lets its height grow: lines of 40 average characters, and no wider than
// half the screen, stay whole; and they are as many as the height leaves
// beside the caption, the buttons and the margins.
std::string FrmTavrin::fittedBoxText(std::string_view text) const {
  const UINT dpi = GetDpiForWindow(m_window);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
  const HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
  const HDC context = GetDC(m_window);
  const HGDIOBJ original = SelectObject(context, font);
  TEXTMETRICW textMetrics{};
  GetTextMetricsW(context, &textMetrics);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(m_window, MONITOR_DEFAULTTONEAREST), &monitor);
  const RECT& free = monitor.rcWork;
  const int line = textMetrics.tmHeight + textMetrics.tmExternalLeading;
  const int width = std::min<int>(40 * textMetrics.tmAveCharWidth,
                                  (free.right - free.left) / 2 - 3 * GetSystemMetricsForDpi(SM_CXICON, dpi));
  const int beside =
      GetSystemMetricsForDpi(SM_CYCAPTION, dpi) + 2 * GetSystemMetricsForDpi(SM_CYFIXEDFRAME, dpi) + 6 * line;
  std::string fitted = fitBoxText(
      text, width, (free.bottom - free.top - beside) / line, [context](std::string_view character) {
        const std::wstring units = wide(character);
        SIZE size{};
        GetTextExtentPoint32W(context, units.data(), static_cast<int>(units.size()), &size);
        return static_cast<int>(size.cx);
      });
  SelectObject(context, original);
  ReleaseDC(m_window, context);
  DeleteObject(font);
  return fitted;
}

// A run's box is watched for the window system's close (its close box,
// Alt+F4): that closes the box as its Esc would, and asks the program to
// close as well, once the box is answered.
void FrmTavrin::watchBox(HWND box) {
  SetWindowSubclass(box, boxProcedure, 0, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK FrmTavrin::boxProcedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                         DWORD_PTR self) {
  if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE)
    reinterpret_cast<FrmTavrin*>(self)->closeWaitsForRun();
  if (message == WM_NCDESTROY) RemoveWindowSubclass(box, boxProcedure, 0);
  return DefSubclassProc(box, message, wParam, lParam);
}

bool FrmTavrin::showBox(Box box, std::string_view title, std::string_view text) {
  UINT style = MB_OK;
  if (box == Box::Question) style = MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1;
  if (box == Box::Warning) style = MB_OK | MB_ICONEXCLAMATION;
  return m_dialogs.messageBox(m_window, wide(fittedBoxText(text)), wide(title), style) == IDYES;
}

}  // namespace tavrin
