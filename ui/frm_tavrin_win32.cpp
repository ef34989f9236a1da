#include "ui/frm_tavrin_win32.hpp"

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>
#include <shellapi.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <string_view>

#include "engine/conversion_run.hpp"
#include "engine/text.hpp"
#include "version.hpp"

namespace tavrin {

// A control of the stored design.
struct Control {
  ControlId id;
  const wchar_t* windowClass;
  const wchar_t* text;
  RECT twips;  // left, top, width, height
  DWORD style;
  const wchar_t* accessibleName;  // for screen readers, when the caption does not say it
};

namespace {

using namespace std::chrono_literals;

constexpr wchar_t kWindowClass[] = L"frmTavrin";
// One display frame: the status bar is not painted more often than this.
constexpr auto kFrameTime = 16ms;
// The panel shows one short line; a token can be as long as its input line.
constexpr std::size_t kPanelTextMax = 1000;
// The longest path a dialog takes, in UTF-16 units.
constexpr std::size_t kLongestPath = 32768;

// The design, in twips (1/1440 inch) from the client area's top left corner,
// laid out at the system's dots per inch: 15 twips make a pixel at 96.
constexpr SIZE kClientTwips{5685, 2955};

constexpr DWORD kTextBox = WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD kButton = WS_TABSTOP | BS_PUSHBUTTON;

// In the order of creation, which is the order of Tab (among the controls
// that take the focus) and puts each label just before its box, where
// screen readers look for a box's name.
const Control kControls[] = {
    {Label1, L"STATIC", L"Input Filename:", {120, 300, 1575, 255}, SS_LEFT, nullptr},
    {txtInputFileName, L"EDIT", L"", {1740, 300, 2775, 285}, kTextBox, L"Input file name"},
    {Label2, L"STATIC", L"Output Filename:", {120, 690, 1575, 255}, SS_LEFT, nullptr},
    {txtOutputFileName, L"EDIT", L"", {1740, 690, 2775, 285}, kTextBox, L"Output file name"},
    {cmdProcess, L"BUTTON", L"Process", {1740, 2100, 1035, 345}, kButton, nullptr},
    {Label3, L"STATIC", L"Separator:", {120, 1080, 1575, 255}, SS_LEFT, nullptr},
    {txtSeparator, L"EDIT", L",", {1740, 1080, 315, 285}, kTextBox, L"Separator"},
    {chkUnbuildMailTo,
     L"BUTTON",
     L"\"Name\" <name@example.com>",
     {1740, 1440, 2715, 315},
     WS_TABSTOP | BS_AUTOCHECKBOX,
     L"Unpack names and addresses"},  // the caption is only a sample of what the box unpacks
    {cmdInputFile, L"BUTTON", L"Browse...", {4560, 300, 1035, 285}, kButton, L"Browse for the input file"},
    {cmdOutputFile, L"BUTTON", L"Browse...", {4560, 690, 1035, 285}, kButton, L"Browse for the output file"},
    {cmdClose, L"BUTTON", L"Close", {2880, 2100, 1035, 345}, kButton, nullptr},
    // Placed as drawn, not where the status bar would put itself.
    {StatusBar1, STATUSCLASSNAMEW, L"", {0, 2700, 5685, 255}, CCS_NORESIZE | CCS_NOPARENTALIGN, L"Status"},
};

// Fixed size, caption and close box only.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES;

int pixels(int twips, UINT dpi) {
  return MulDiv(twips, static_cast<int>(dpi), 1440);
}

// The window's outer size that gives the design's client area at `dpi`, in
// the frame that the system draws at the window's own dots per inch.
SIZE frameSize(HWND window, UINT dpi) {
  RECT frame{0, 0, pixels(kClientTwips.cx, dpi), pixels(kClientTwips.cy, dpi)};
  AdjustWindowRectExForDpi(&frame, kStyle, FALSE, kExStyle, GetDpiForWindow(window));
  return {frame.right - frame.left, frame.bottom - frame.top};
}

// The width that a control leaves its caption, in the font selected into
// `context`: half an average character on either side of it, within a
// button's frame or beside a check box's mark.
int captionRoom(const Control& c, HDC context, UINT dpi) {
  int room = pixels(c.twips.right, dpi);
  if (std::wstring_view(c.windowClass) != L"BUTTON") return room;
  TEXTMETRICW metrics{};
  GetTextMetricsW(context, &metrics);
  room -= metrics.tmAveCharWidth;
  if ((c.style & BS_TYPEMASK) == BS_AUTOCHECKBOX) return room - GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi);
  return room - 2 * GetSystemMetricsForDpi(SM_CXEDGE, dpi);
}

// Texts are UTF-8 inside the program. One that is not (a file in an older
// encoding) is shown through the system's own code page instead.
std::wstring wide(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  for (const UINT codePage : {CP_UTF8, CP_ACP}) {
    const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int units = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
    if (units == 0) continue;
    std::wstring converted(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), size, converted.data(), units);
    return converted;
  }
  return {};
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

  m_window = CreateWindowExW(kExStyle, kWindowClass, L"Tavrin", kStyle, 0, 0, 0, 0, nullptr, nullptr,
                             instance, this);
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
  for (const Control& c : kControls) {
    const DWORD exStyle = std::wstring_view(c.windowClass) == L"EDIT" ? WS_EX_CLIENTEDGE : 0;
    const HWND control =
        CreateWindowExW(exStyle, c.windowClass, c.text, WS_CHILD | WS_VISIBLE | c.style, 0, 0, 0, 0, m_window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), nullptr, nullptr);
    if (accessibility && c.accessibleName != nullptr) nameForScreenReaders(control, c.accessibleName);
  }
  // No limit on length: the system's own would cut texts at 32767 characters.
  for (const ControlId box : {txtInputFileName, txtOutputFileName, txtSeparator})
    SendMessageW(item(box), EM_SETLIMITTEXT, 0, 0);
  const int wholeBar = -1;
  SendMessageW(item(StatusBar1), SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&wholeBar));
}

// The controls where the design puts them at `dpi`, each in the font of the
// system's messages at `dpi`.
void FrmTavrin::layOut(UINT dpi) {
  const std::vector<HFONT> previous = std::move(m_fonts);
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
  m_fonts = {CreateFontIndirectW(&metrics.lfMessageFont)};
  for (const Control& c : kControls) {
    const HWND control = item(c.id);
    MoveWindow(control, pixels(c.twips.left, dpi), pixels(c.twips.top, dpi), pixels(c.twips.right, dpi),
               pixels(c.twips.bottom, dpi), FALSE);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(fontFitting(control, c, dpi)), FALSE);
  }
  InvalidateRect(m_window, nullptr, TRUE);
  for (const HFONT font : previous) DeleteObject(font);
}

// The sample recipient is the longest caption: in a font wider than the one
// the design was drawn for, a caption is narrowed until it fits, measured
// again in each narrower font, whose rounding may keep it wider than asked.
// A box's text is the user's, in the font as it is.
HFONT FrmTavrin::fontFitting(HWND control, const Control& c, UINT dpi) {
  const HFONT font = m_fonts.front();
  if (std::wstring_view(c.windowClass) == L"EDIT") return font;
  const HDC context = GetDC(control);
  const HGDIOBJ original = SelectObject(context, font);
  HFONT fitting = font;
  LOGFONTW narrowed{};
  GetObjectW(font, sizeof narrowed, &narrowed);
  for (;;) {
    SIZE size{};
    GetTextExtentPoint32W(context, c.text, static_cast<int>(std::wcslen(c.text)), &size);
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
      // A close request during a run stops the run, which removes the output
      // it created; the window closes once the run has ended.
      if (m_running) {
        m_closeRequested = true;
      } else {
        DestroyWindow(m_window);
      }
      return 0;
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
      if (notification == EN_CHANGE) m_separator = utf8(textOf(item(txtSeparator)));
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

void FrmTavrin::cmdProcessClick() {
  // A click that reaches the button from inside one of the run's message
  // boxes must not start a second run.
  if (m_running) return;
  m_running = true;
  ConversionRun(*this);
  keepGoing();  // input that came at the end is dropped too
  m_running = false;
  showStatus();
  if (m_closeRequested) DestroyWindow(m_window);
}

bool FrmTavrin::isInputDuringRun(const MSG& message) const {
  const bool input = (message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST) ||
                     message.message == WM_KEYDOWN || message.message == WM_KEYUP ||
                     message.message == WM_CHAR || message.message == WM_DEADCHAR ||
                     message.message == WM_DROPFILES;
  return input && (message.hwnd == m_window || IsChild(m_window, message.hwnd));
}

bool FrmTavrin::keepGoing() {
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
  return !m_closeRequested;
}

std::string FrmTavrin::GetSeparator() {
  return m_separator;
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

std::chrono::steady_clock::duration FrmTavrin::statusInterval() {
  return kFrameTime;
}

void FrmTavrin::SetStatusText(std::string_view text) {
  m_statusText.assign(text);
}

void FrmTavrin::RefreshStatus() {
  showStatus();
}

void FrmTavrin::showStatus() {
  const std::wstring text = wide(headOf(m_statusText, kPanelTextMax));
  SendMessageW(item(StatusBar1), SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(text.c_str()));
  // Painted at once, although the run holds the thread.
  UpdateWindow(item(StatusBar1));
}

int FrmTavrin::showBox(std::string_view text, std::string_view title, UINT style) {
  showStatus();
  // A message box would lay out all of a hundred-megabyte line.
  return m_dialogs.messageBox(m_window, wide(shortenForDisplay(text)), wide(title), style);
}

void FrmTavrin::ShowMessage(std::string_view text) {
  showBox(text, kProductName, MB_OK);
}

bool FrmTavrin::AskYesNo(std::string_view text) {
  return showBox(text, kProductName, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1) == IDYES;
}

void FrmTavrin::ShowWarning(std::string_view text, std::string_view title) {
  showBox(text, title, MB_OK | MB_ICONEXCLAMATION);
}

}  // namespace tavrin
