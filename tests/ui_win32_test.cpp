// The Windows window, driven in-process by the messages that its controls
// get from a user, with its message boxes and file dialogs seen through the
// seam that the window shows them by.

#include <gtest/gtest.h>

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>
#include <shlobj.h>
// clang-format on

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "temp_dir.hpp"
#include "ui/frm_tavrin_win32.hpp"
#include "ui/stored_design.hpp"

namespace tavrin {
namespace {

std::wstring wide(std::string_view text) {
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring converted(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), converted.data(), size);
  return converted;
}

std::wstring textOf(HWND control) {
  wchar_t text[4096] = {};
  GetWindowTextW(control, text, 4096);
  return text;
}

std::wstring statusText(HWND window) {
  wchar_t text[4096] = {};
  SendMessageW(GetDlgItem(window, StatusBar1), SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
  return text;
}

int pixels(int twips, UINT dpi = GetDpiForSystem()) {
  return MulDiv(twips, static_cast<int>(dpi), 1440);
}

// The system's name of the control that shows a kind of the stored design.
std::wstring windowClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::Label:
      return L"Static";
    case ControlKind::TextBox:
      return L"Edit";
    case ControlKind::CheckBox:
    case ControlKind::Button:
      return L"Button";
    case ControlKind::StatusBar:
      return L"msctls_statusbar32";
  }
  return {};
}

// The controls that take the focus, by tab index.
std::vector<StoredControl> focusOrder() {
  std::vector<StoredControl> controls;
  std::ranges::copy_if(kStoredDesign, std::back_inserter(controls),
                       [](const StoredControl& c) { return takesFocus(c.kind); });
  std::ranges::sort(controls, {}, &StoredControl::tabIndex);
  return controls;
}

// A control's place in its window's client area.
RECT placeOf(HWND window, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
  return rect;
}

struct Box {
  std::wstring text;
  std::wstring title;
  UINT style;
};

struct Chosen {
  bool save;
  std::wstring proposed;  // the file name that the dialog opens with
  std::wstring folder;
  std::wstring filter;  // its entries, "|" for each NUL
  DWORD flags;
};

// The window with its boxes and dialogs in a test's hands: each box is
// recorded and answered from `answers` (Yes once they are used up); each
// dialog is recorded and, when `choice` holds a path, ends with it.
class Window {
 public:
  Window()
      : m_window({[this](HWND owner, const std::wstring& text, const std::wstring& title, UINT style) {
                    boxes.push_back({text, title, style});
                    if (systemBox) return MessageBoxW(owner, text.c_str(), title.c_str(), style);
                    const bool yes = boxes.size() > answers.size() || answers[boxes.size() - 1];
                    return (style & MB_YESNO) ? (yes ? IDYES : IDNO) : IDOK;
                  },
                  [this](OPENFILENAMEW& settings, bool save) {
                    std::wstring filter;
                    for (const wchar_t* entry = settings.lpstrFilter; *entry; entry += wcslen(entry) + 1)
                      filter += std::wstring(entry) + L"|";
                    dialogs.push_back(
                        {save, settings.lpstrFile, settings.lpstrInitialDir, filter, settings.Flags});
                    if (!choice) return false;
                    wcsncpy(settings.lpstrFile, choice->c_str(), settings.nMaxFile);
                    return true;
                  }}) {
    m_window.show();
    pump();
    SetWindowSubclass(window(), watchBoxes, 0, reinterpret_cast<DWORD_PTR>(this));
  }

  HWND window() const { return m_window.frmTavrin(); }
  HWND control(int id) const { return GetDlgItem(window(), id); }
  FrmTavrin& frmTavrin() { return m_window; }

  // What the message loop does with what is waiting.
  void pump() {
    for (MSG message; PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);) {
      if (message.message == WM_QUIT) continue;
      if (window() != nullptr && m_window.translate(message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

  // A key as the message loop hands it on, to the control that has the focus.
  void press(WPARAM key, bool shift = false) {
    if (shift) keyState(VK_SHIFT, true);
    for (const UINT message : {WM_KEYDOWN, WM_KEYUP}) {
      MSG m{GetFocus(), message, key, 0, 0, {}};
      if (!m_window.translate(m)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
      }
      pump();
    }
    if (shift) keyState(VK_SHIFT, false);
  }

  void fill(const std::string& input, const std::string& output, const std::string& separator = ",",
            bool unbuild = false) {
    SetWindowTextW(control(txtInputFileName), wide(input).c_str());
    SetWindowTextW(control(txtOutputFileName), wide(output).c_str());
    SetWindowTextW(control(txtSeparator), wide(separator).c_str());
    SendMessageW(control(chkUnbuildMailTo), BM_SETCHECK, unbuild ? BST_CHECKED : BST_UNCHECKED, 0);
  }

  // A click on Process, whose handling returns when the run has ended.
  void process() { SendMessageW(control(cmdProcess), BM_CLICK, 0, 0); }

  std::vector<bool> answers;
  std::vector<Box> boxes;
  std::optional<std::wstring> choice;
  std::vector<Chosen> dialogs;
  // Instead of the answers, the system's own box, handed to `systemBox` as
  // it takes the activation from the window, its owner, which the user
  // activated by pressing Process.
  std::function<void(HWND box)> systemBox;
  void processWithSystemBoxes() {
    SetActiveWindow(window());
    ASSERT_EQ(GetActiveWindow(), window());
    process();
  }

 private:
  static LRESULT CALLBACK watchBoxes(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                     DWORD_PTR self) {
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    auto* w = reinterpret_cast<Window*>(self);
    const auto box = reinterpret_cast<HWND>(lParam);
    if (message == WM_ACTIVATE && LOWORD(wParam) == WA_INACTIVE && w->systemBox && box != nullptr &&
        box != w->m_boxSeen && GetWindow(box, GW_OWNER) == window) {
      w->m_boxSeen = box;
      w->systemBox(box);
    }
    if (message == WM_NCDESTROY) RemoveWindowSubclass(window, watchBoxes, 0);
    return result;
  }

  static void keyState(BYTE key, bool down) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[key] = down ? 0x80 : 0;
    SetKeyboardState(keys);
  }

  FrmTavrin m_window;
  HWND m_boxSeen = nullptr;
};

// A pipe whose writer sends its text only when told, so that a run that
// reads it waits until then: a Windows named pipe, or, under Wine only, a
// POSIX one, made by the system's mkfifo in `folder`.
class SlowPipe {
 public:
  explicit SlowPipe(const TempDir* folder = nullptr) : m_posix(folder != nullptr) {
    static std::atomic<int> count{0};
    if (!m_posix) {
      m_name =
          "\\\\.\\pipe\\tavrin-test-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++count);
      m_pipe = CreateNamedPipeW(wide(m_name).c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                4096, 4096, 0, nullptr);
    } else {
      m_name = folder->file("fifo");
      m_pipe = posixPipe(m_name);
    }
    m_writer = std::thread([this] {
      if (!m_posix) ConnectNamedPipe(m_pipe, nullptr);  // the run opens it
      std::unique_lock lock(m_mutex);
      // A run that never gets its text must not hang the test.
      m_told.wait_for(lock, std::chrono::seconds(10), [this] { return m_text.has_value(); });
      DWORD written = 0;
      if (m_text) WriteFile(m_pipe, m_text->data(), static_cast<DWORD>(m_text->size()), &written, nullptr);
      // The end, for the reader.
      if (m_posix) {
        CloseHandle(m_pipe);
      } else {
        FlushFileBuffers(m_pipe);
        DisconnectNamedPipe(m_pipe);
      }
    });
  }
  ~SlowPipe() {
    send({});
    // A writer that still waits for its reader gets one.
    const HANDLE reader =
        m_posix ? INVALID_HANDLE_VALUE
                : CreateFileW(wide(m_name).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    m_writer.join();
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    if (m_posix) {
      removePosixPipe(m_name);
    } else {
      CloseHandle(m_pipe);
    }
  }
  const std::string& name() const { return m_name; }
  void send(const std::string& text) {
    const std::lock_guard lock(m_mutex);
    if (!m_text) m_text = text;
    m_told.notify_all();
  }

 private:
  // Wine lets a Windows program neither make nor remove a POSIX named pipe,
  // but starts Linux's own programs for it, given Linux names; it cannot wait
  // for their end, so the pipe is waited for. Opened for writing at once:
  // Wine waits for no reader.
  static HANDLE posixPipe(const std::string& name) {
    runOnLinux(L"/usr/bin/mkfifo", name);
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int tries = 0; tries < 500 && pipe == INVALID_HANDLE_VALUE; ++tries, Sleep(10))
      pipe = CreateFileW(wide(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
    return pipe;
  }
  static void removePosixPipe(const std::string& name) {
    runOnLinux(L"/bin/rm", name);
    for (int tries = 0; tries < 500; ++tries, Sleep(10)) {
      const HANDLE pipe = CreateFileW(wide(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
      if (pipe == INVALID_HANDLE_VALUE) return;
      CloseHandle(pipe);
    }
  }
  static void runOnLinux(const std::wstring& program, const std::string& name) {
    using UnixName = char* (*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* const path = unixName(wide(name).c_str());
    std::wstring command = program + L" " + wide(path);
    HeapFree(GetProcessHeap(), 0, path);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessW((L"Z:" + program).c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &process)) {
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
  }

  bool m_posix;
  std::string m_name;
  HANDLE m_pipe;
  std::mutex m_mutex;
  std::condition_variable m_told;
  std::optional<std::string> m_text;
  std::thread m_writer;
};

bool underWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// Files dropped from a file manager, at a point of the window's client area.
HGLOBAL droppedFiles(const std::wstring& path, POINT point) {
  const std::size_t size = sizeof(DROPFILES) + (path.size() + 2) * sizeof(wchar_t);
  const HGLOBAL memory = GlobalAlloc(GHND, size);
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->pt = point;
  drop->fWide = TRUE;
  std::copy(path.begin(), path.end(), reinterpret_cast<wchar_t*>(drop + 1));
  GlobalUnlock(memory);
  return memory;
}

POINT centreOf(HWND window, HWND control) {
  RECT rect;
  GetWindowRect(control, &rect);
  POINT point{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
  ScreenToClient(window, &point);
  return point;
}

TEST(Win32Window, StoredDesign) {
  Window w;
  for (const StoredControl& c : kStoredDesign) {
    SCOPED_TRACE(std::string(c.name));
    const HWND control = w.control(controlId(c.name));
    ASSERT_NE(control, nullptr);
    wchar_t windowClass[64];
    GetClassNameW(control, windowClass, 64);
    EXPECT_EQ(_wcsicmp(windowClass, windowClassOf(c.kind).c_str()), 0)
        << std::string(windowClass, windowClass + wcslen(windowClass));
    EXPECT_EQ(textOf(control), wide(c.caption));
    const RECT rect = placeOf(w.window(), control);
    EXPECT_EQ(rect.left, pixels(c.twips.left));
    EXPECT_EQ(rect.top, pixels(c.twips.top));
    EXPECT_EQ(rect.right - rect.left, pixels(c.twips.width));
    EXPECT_EQ(rect.bottom - rect.top, pixels(c.twips.height));
    EXPECT_TRUE(IsWindowVisible(control) && IsWindowEnabled(control));
  }
  EXPECT_EQ(SendMessageW(w.control(chkUnbuildMailTo), BM_GETCHECK, 0, 0), BST_UNCHECKED);
  EXPECT_EQ(GetFocus(), w.control(txtInputFileName));
  EXPECT_EQ(textOf(w.window()), L"Tavrin");
  EXPECT_EQ(statusText(w.window()), L"");
  RECT client;
  GetClientRect(w.window(), &client);
  EXPECT_EQ(client.right, pixels(kClientTwips.width));
  EXPECT_EQ(client.bottom, pixels(kClientTwips.height));
  // Caption and close box, no other button, and no frame to resize it by.
  const LONG_PTR style = GetWindowLongPtrW(w.window(), GWL_STYLE);
  EXPECT_TRUE((style & WS_CAPTION) == WS_CAPTION && (style & WS_SYSMENU));
  EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
}

// Laid out for `dpi` as the design says, each caption in the system's message
// font at `dpi` (or that font narrowed) within the room its control leaves it.
void expectLaidOutAt(HWND window, UINT dpi) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, pixels(kClientTwips.width, dpi));
  EXPECT_EQ(client.bottom, pixels(kClientTwips.height, dpi));
  for (const StoredControl& c : kStoredDesign) {
    SCOPED_TRACE(std::string(c.name));
    const HWND control = GetDlgItem(window, controlId(c.name));
    const RECT rect = placeOf(window, control);
    EXPECT_EQ(rect.left, pixels(c.twips.left, dpi));
    EXPECT_EQ(rect.top, pixels(c.twips.top, dpi));
    EXPECT_EQ(rect.right - rect.left, pixels(c.twips.width, dpi));
    EXPECT_EQ(rect.bottom - rect.top, pixels(c.twips.height, dpi));
    const auto font = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    LOGFONTW shown{};
    GetObjectW(font, sizeof shown, &shown);
    EXPECT_EQ(shown.lfHeight, metrics.lfMessageFont.lfHeight);
    EXPECT_STREQ(shown.lfFaceName, metrics.lfMessageFont.lfFaceName);
    const HDC context = GetDC(control);
    const HGDIOBJ previous = SelectObject(context, font);
    const std::wstring caption = wide(c.caption);
    SIZE size{};
    GetTextExtentPoint32W(context, caption.c_str(), static_cast<int>(caption.size()), &size);
    TEXTMETRICW text{};
    GetTextMetricsW(context, &text);
    SelectObject(context, previous);
    ReleaseDC(control, context);
    // Half a character either side, within a button's frame or beside a
    // check box's mark.
    int room = rect.right - rect.left;
    if (c.kind == ControlKind::Button || c.kind == ControlKind::CheckBox) room -= text.tmAveCharWidth;
    if (c.kind == ControlKind::CheckBox) room -= GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi);
    if (c.kind == ControlKind::Button) room -= 2 * GetSystemMetricsForDpi(SM_CXEDGE, dpi);
    EXPECT_LE(size.cx, room);
    EXPECT_LE(size.cy, rect.bottom - rect.top);
  }
}

// The system's scaling as a user sets it, for the programs that start while
// it is set.
class SystemScaling {
 public:
  explicit SystemScaling(DWORD dpi) {
    DWORD size = sizeof m_before;
    m_had = RegGetValueW(HKEY_CURRENT_USER, kKey, kValue, RRF_RT_REG_DWORD, nullptr, &m_before, &size) ==
            ERROR_SUCCESS;
    RegSetKeyValueW(HKEY_CURRENT_USER, kKey, kValue, REG_DWORD, &dpi, sizeof dpi);
  }
  ~SystemScaling() {
    if (m_had) {
      RegSetKeyValueW(HKEY_CURRENT_USER, kKey, kValue, REG_DWORD, &m_before, sizeof m_before);
    } else {
      RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, kValue);
    }
  }
  SystemScaling(const SystemScaling&) = delete;
  SystemScaling& operator=(const SystemScaling&) = delete;

 private:
  static constexpr const wchar_t* kKey = L"Control Panel\\Desktop";
  static constexpr const wchar_t* kValue = L"LogPixels";
  DWORD m_before = 0;
  bool m_had = false;
};

constexpr char kStartedAt[] = "TAVRIN_TEST_STARTED_AT";

// The exit status of this test, run by a process of its own that starts at
// `dpi`, which checks only the rows that start there.
DWORD runStartedAt(UINT dpi) {
  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring command =
      L"\"" + std::wstring(program) + L"\" --gtest_filter=Win32Window.EveryCaptionFitsAtEveryScaling";
  const SystemScaling scaling(dpi);
  SetEnvironmentVariableA(kStartedAt, std::to_string(dpi).c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                      &startup, &process);
  SetEnvironmentVariableA(kStartedAt, nullptr);
  if (!started) return GetLastError();
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return status;
}

TEST(Win32Window, EveryCaptionFitsAtEveryScaling) {
  struct Case {
    UINT startedAt;
    UINT movedTo;  // a monitor of this scaling (WM_DPICHANGED), or 0
  };
  const std::vector<Case> cases = {{96, 0}, {120, 0}, {144, 0}, {192, 0}, {96, 144}};
  const bool onlyThisScaling = std::getenv(kStartedAt) != nullptr;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.startedAt) + " dpi, then " + std::to_string(c.movedTo));
    if (c.startedAt != GetDpiForSystem()) {
      if (!onlyThisScaling) {
        EXPECT_EQ(runStartedAt(c.startedAt), 0u);
      }
      continue;
    }
    Window w;
    ASSERT_EQ(GetDpiForWindow(w.window()), c.startedAt);
    if (c.movedTo == 0) {
      expectLaidOutAt(w.window(), c.startedAt);
      continue;
    }
    // Where the system proposes to put it: the same place, in proportion.
    RECT proposed;
    GetWindowRect(w.window(), &proposed);
    proposed.right = proposed.left + MulDiv(proposed.right - proposed.left, c.movedTo, c.startedAt);
    proposed.bottom = proposed.top + MulDiv(proposed.bottom - proposed.top, c.movedTo, c.startedAt);
    SendMessageW(w.window(), WM_DPICHANGED, MAKEWPARAM(c.movedTo, c.movedTo),
                 reinterpret_cast<LPARAM>(&proposed));
    expectLaidOutAt(w.window(), c.movedTo);
    RECT frame;
    GetWindowRect(w.window(), &frame);
    EXPECT_EQ(frame.left, proposed.left);
    EXPECT_EQ(frame.top, proposed.top);
  }
}

TEST(Win32Window, ScreenReadersHearEachControlsName) {
  Window w;
  // Wine's accessibility services take no names of a program's own.
  IAccPropServices* services = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                             reinterpret_cast<void**>(&services)),
            S_OK);
  const HRESULT named = services->SetHwndPropStr(w.control(cmdClose), static_cast<DWORD>(OBJID_CLIENT),
                                                 CHILDID_SELF, PROPID_ACC_NAME, L"Close");
  services->Release();
  if (named == E_NOTIMPL) GTEST_SKIP() << "this system's accessibility services cannot name a control";
  for (const StoredControl& c : focusOrder()) {
    SCOPED_TRACE(std::string(c.name));
    IAccessible* accessible = nullptr;
    ASSERT_EQ(AccessibleObjectFromWindow(w.control(controlId(c.name)), static_cast<DWORD>(OBJID_CLIENT),
                                         __uuidof(IAccessible), reinterpret_cast<void**>(&accessible)),
              S_OK);
    VARIANT self;
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR text = nullptr;
    EXPECT_EQ(accessible->get_accName(self, &text), S_OK);
    EXPECT_EQ(std::wstring(text != nullptr ? text : L""), wide(c.accessibleName));
    SysFreeString(text);
    accessible->Release();
  }
}

TEST(Win32Window, TabGoesThroughTheControlsInTheirOrder) {
  const std::vector<StoredControl> order = focusOrder();
  for (const bool backwards : {false, true}) {
    SCOPED_TRACE(backwards ? "Shift+Tab" : "Tab");
    Window w;
    for (std::size_t step = 1; step <= order.size(); ++step) {
      w.press(VK_TAB, backwards);
      const StoredControl& next = order[(backwards ? order.size() - step : step) % order.size()];
      EXPECT_EQ(GetFocus(), w.control(controlId(next.name))) << next.name;
    }
  }
}

TEST(Win32Window, EnterPressesOnlyAFocusedButtonAndEscClosesNothing) {
  struct Case {
    ControlId focus;
    WPARAM key;
    std::string reaction;
  };
  std::vector<Case> cases;
  for (const ControlId focus :
       {txtInputFileName, txtOutputFileName, txtSeparator, chkUnbuildMailTo, cmdProcess, cmdClose}) {
    cases.push_back({focus, VK_ESCAPE, ""});
    if (focus != cmdProcess && focus != cmdClose) cases.push_back({focus, VK_RETURN, ""});
  }
  cases.push_back({cmdProcess, VK_RETURN, "run"});
  cases.push_back({cmdInputFile, VK_RETURN, "open dialog"});
  cases.push_back({cmdOutputFile, VK_RETURN, "save dialog"});
  cases.push_back({cmdClose, VK_RETURN, "closed"});
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.focus) + (c.key == VK_RETURN ? " Return" : " Escape"));
    TempDir dir;
    Window w;
    w.fill(dir.write("in.txt", "a\n"), dir.file("out.txt"));
    SetFocus(w.control(c.focus));
    w.press(c.key);
    std::string seen;
    if (!w.dialogs.empty()) seen = w.dialogs.back().save ? "save dialog" : "open dialog";
    if (std::filesystem::exists(pathOf(dir.file("out.txt")))) seen = "run";
    if (w.window() == nullptr) seen = "closed";
    EXPECT_EQ(seen, c.reaction);
  }
}

TEST(Win32Window, WholeRun) {
  struct Case {
    std::string input;
    std::string separator;
    bool unbuild;
    std::string output;
    std::wstring status;
    std::wstring separatorAfter;
  };
  const std::vector<Case> cases = {
      {"a,b\r\nc\r\n", ",", false, "EMail1\r\na\r\nb\r\nc\r\n", L"3 - \u2068c\u2069", L","},
      {"x ; y\n", " ; ", false, "EMail1\r\nx\r\ny\r\n", L"2 - \u2068y\u2069", L";"},
      {"p,q\n", "   ", false, "EMail1\r\np\r\nq\r\n", L"2 - \u2068q\u2069", L","},
      {"\"Doe, John\" <john@example.com>;\"Acme Inc\" <sales@acme.example>\n", ";", true,
       "DisplayName,EMail1\r\nJohn Doe,john@example.com\r\nPartner,sales@acme.example\r\n",
       L"2 - \u2068\"Acme Inc\" <sales@acme.example>\u2069", L";"},
      {"\xC3\xA9t\xC3\xA9,\xE2\x82\xAC\n", ",", false, "EMail1\r\n\xC3\xA9t\xC3\xA9\r\n\xE2\x82\xAC\r\n",
       L"2 - \u2068\u20AC\u2069", L","},
      // Not UTF-8: a byte that is no character is shown by its code, and written as it came.
      {"caf\xE9\n", ",", false, "EMail1\r\ncaf\xE9\r\n", L"1 - \u2068caf\\xe9\u2069", L","},
      {" , ,\n\n", ",", false, "", L"", L","},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    TempDir dir;
    Window w;
    w.fill(dir.write("in.txt", c.input), dir.file("out.csv"), c.separator, c.unbuild);
    w.process();
    EXPECT_EQ(readFile(dir.file("out.csv")), c.output);
    EXPECT_EQ(statusText(w.window()), c.status);
    EXPECT_EQ(textOf(w.control(txtSeparator)), c.separatorAfter);
    EXPECT_TRUE(w.boxes.empty());
    EXPECT_TRUE(IsWindowVisible(w.window()));
  }
}

TEST(Win32Window, MessageBoxesOfTheRun) {
  struct Case {
    std::string input;  // "(none)": no input file
    bool unbuild;
    bool answer;
    std::wstring start;  // of the box's text
    std::wstring title;
    UINT style;
    std::string output;
    std::wstring statusAfter;
  };
  const std::vector<Case> cases = {
      {"(none)", false, true, L"Cannot open the input file", L"Tavrin", MB_OK, "(none)", L""},
      {"\"Last\",a@b.c\n\"Doe, John\" <john@example.com>\n", true, true,
       L"Error processing line: \u2068\"Last\",a@b.c\u2069\nDescription: Invalid argument\nNumber: 22",
       L"Tavrin", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1,
       "DisplayName,EMail1\r\nJohn Doe,john@example.com\r\n",
       L"2 - \u2068\"Doe, John\" <john@example.com>\u2069"},
      {"\"Last\",a@b.c\n\"Doe, John\" <john@example.com>\n", true, false,
       L"Error processing line: \u2068\"Last\"", L"Tavrin", MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON1, "",
       L"1 - \u2068\"Last\"\u2069"},
      {"x,\"open\nlast\n", false, true, L"Error: Invalid argument: a quote stays open to the end of line 1",
       L"Tavrin", MB_OK | MB_ICONEXCLAMATION, "EMail1\r\nlast\r\n", L"1 - \u2068last\u2069"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    TempDir dir;
    const std::string input = c.input == "(none)" ? dir.file("in.txt") : dir.write("in.txt", c.input);
    Window w;
    w.answers = {c.answer};
    w.fill(input, dir.write("out.txt", "from before"), ",", c.unbuild);
    w.process();
    ASSERT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.boxes[0].text.substr(0, c.start.size()), c.start);
    EXPECT_EQ(w.boxes[0].title, c.title);
    EXPECT_EQ(w.boxes[0].style, c.style);
    const bool written = std::filesystem::exists(pathOf(dir.file("out.txt")));
    EXPECT_EQ(written ? readFile(dir.file("out.txt")) : "(none)", c.output);
    EXPECT_EQ(statusText(w.window()), c.statusAfter);
  }
}

// Lines that would make a box larger than the screen. A line separator of
// the input, shown escaped, is six characters without a break opportunity.
const std::string kSeparatorLine =
    "\"Jane\xE2\x80\xA8\xE2\x80\xA8\xE2\x80\xA8"
    "Description: Done. Every recipient was written.\xE2\x80\xA8Number: 0" +
    [] {
      std::string separators;
      for (int i = 0; i < 60; ++i) separators += "\xE2\x80\xA8";
      return separators;
    }() +
    "end\"";

// The system's own box, on the screen: it and its buttons within the
// monitor's free area, whatever the line.
TEST(Win32Window, ARunsBoxFitsTheScreen) {
  struct Case {
    std::string name;
    std::string line;  // of the input, which fails in unbuild mode, or warns
    bool unbuild;
  };
  const std::vector<Case> cases = {
      {"line report, line separators", kSeparatorLine, true},
      {"warning, line separators", "a," + kSeparatorLine.substr(0, kSeparatorLine.size() - 1), false},
      {"line report, 1,135 bytes without a blank", "\"" + std::string(1133, 'x') + "\"", true},
      {"warning, 1,135 bytes without a blank", "a,\"" + std::string(1133, 'x'), false},
      {"line report, a 100 MB line without a blank", "\"" + std::string(100'000'000, 'x') + "\"", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    Window w;
    w.fill(dir.write("in.txt", c.line + "\n"), dir.file("out.txt"), ",", c.unbuild);
    RECT frame{};
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    std::vector<RECT> buttons;
    w.systemBox = [&](HWND box) {
      GetWindowRect(box, &frame);
      GetMonitorInfoW(MonitorFromWindow(box, MONITOR_DEFAULTTONEAREST), &monitor);
      for (const int id : {IDOK, IDYES, IDNO}) {
        RECT button{};
        if (GetDlgItem(box, id) != nullptr && GetWindowRect(GetDlgItem(box, id), &button))
          buttons.push_back(button);
      }
      PostMessageW(box, WM_COMMAND, c.unbuild ? IDNO : IDOK, 0);
    };
    w.processWithSystemBoxes();
    ASSERT_EQ(w.boxes.size(), 1u);
    const RECT& free = monitor.rcWork;
    const auto within = [&free](const RECT& r) {
      return r.left >= free.left && r.top >= free.top && r.right <= free.right && r.bottom <= free.bottom;
    };
    EXPECT_TRUE(within(frame)) << frame.left << "," << frame.top << " to " << frame.right << ","
                               << frame.bottom;
    EXPECT_FALSE(buttons.empty());
    for (const RECT& button : buttons) EXPECT_TRUE(within(button));
  }
}

// A close request while a run's box is up: the box stays until it is
// answered or closed, and then the run stops as for a close during the run,
// removing the output it created, and the program ends. The window's close
// box waits while the box is up; the taskbar's close reaches the window.
TEST(Win32Window, ACloseRequestWhileABoxIsUpStopsTheRunAndEndsTheProgram) {
  std::string warnings;
  for (int i = 0; i < 100; ++i) warnings += "a" + std::to_string(i) + "@x.org, \"Jane <j@x.org>\n";
  struct Case {
    std::string name;
    std::string input;
    bool unbuild;
    bool boxClosed;  // else the taskbar's close
  };
  const std::vector<Case> cases = {
      {"the taskbar's close, a line report", "\"Jane\"\nx@y.z\n", true, false},
      {"the taskbar's close, a warning", warnings, false, false},
      {"the box's close, a warning", warnings, false, true},  // a box of Yes and No has none
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    Window w;
    w.fill(dir.write("in.txt", c.input), dir.file("out.txt"), ",", c.unbuild);
    bool boxStayed = false;
    w.systemBox = [&](HWND box) {
      if (c.boxClosed) {
        boxStayed = true;
        PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
        return;
      }
      // Handled while the box waits, before its answer.
      PostMessageW(w.window(), WM_SYSCOMMAND, SC_CLOSE, 0);
      boxStayed = true;
      PostMessageW(box, WM_COMMAND, c.unbuild ? IDYES : IDOK, 0);
    };
    w.processWithSystemBoxes();
    EXPECT_TRUE(boxStayed);
    EXPECT_EQ(w.boxes.size(), 1u);
    EXPECT_EQ(w.window(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(pathOf(dir.file("out.txt"))));
  }
}

TEST(Win32Window, InputDuringARunIsDroppedAndACloseRequestStopsIt) {
  struct Case {
    std::string name;
    std::function<void(Window&, const std::string& other)> act;
    bool closes;
    bool posixPipe = false;  // the input; else a Windows named pipe
  };
  const std::vector<Case> cases = {
      {"a second click on Process",
       [](Window& w, const std::string&) {
         PostMessageW(w.control(cmdProcess), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
         PostMessageW(w.control(cmdProcess), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
       },
       false},
      {"typing into the separator box",
       [](Window& w, const std::string&) {
         PostMessageW(w.control(txtSeparator), WM_KEYDOWN, 'X', 0);
         PostMessageW(w.control(txtSeparator), WM_CHAR, ';', 0);
       },
       false},
      {"a file dropped on the input box",
       [](Window& w, const std::string& other) {
         PostMessageW(w.window(), WM_DROPFILES,
                      reinterpret_cast<WPARAM>(
                          droppedFiles(wide(other), centreOf(w.window(), w.control(txtInputFileName)))),
                      0);
       },
       false},
      {"the close box", [](Window& w, const std::string&) { PostMessageW(w.window(), WM_CLOSE, 0, 0); },
       true},
      {"the close box, a POSIX named pipe the input",
       [](Window& w, const std::string&) { PostMessageW(w.window(), WM_CLOSE, 0, 0); }, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.posixPipe && !underWine()) continue;  // only Wine has them
    TempDir dir;
    const std::string other = dir.write("other.txt", "z@q.r\n");
    SlowPipe pipe(c.posixPipe ? &dir : nullptr);
    Window w;
    w.fill(pipe.name(), dir.write("out.txt", "from before"));
    // What the user does waits in the queue when the run starts; a timer lets
    // the input come once the window has handled three of its ticks.
    c.act(w, other);
    static SlowPipe* feeding = nullptr;
    static int ticks = 0;
    feeding = c.closes ? nullptr : &pipe;
    ticks = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) {
      if (++ticks == 3 && feeding != nullptr) feeding->send("a,b\n");
    });
    w.process();
    KillTimer(nullptr, timer);
    if (c.closes) {
      EXPECT_EQ(w.window(), nullptr);
      EXPECT_FALSE(std::filesystem::exists(pathOf(dir.file("out.txt"))));  // the output the run created
      continue;
    }
    EXPECT_GE(ticks, 3) << "the window handled its timer during the run";
    // Nothing of it comes back after the run either.
    SetWindowTextW(w.control(txtInputFileName), wide(other).c_str());
    w.pump();
    EXPECT_EQ(readFile(dir.file("out.txt")), "EMail1\r\na\r\nb\r\n");
    EXPECT_EQ(textOf(w.control(txtSeparator)), L",");
    EXPECT_EQ(textOf(w.control(txtInputFileName)), wide(other));
  }
}

TEST(Win32Window, DroppedFileGoesToItsPathBoxOrElseToTheInput) {
  const std::vector<std::pair<ControlId, ControlId>> cases = {
      {txtInputFileName, txtInputFileName}, {txtOutputFileName, txtOutputFileName},
      {txtSeparator, txtInputFileName},     {Label2, txtInputFileName},
      {cmdProcess, txtInputFileName},       {StatusBar1, txtInputFileName},
  };
  for (const auto& [target, box] : cases) {
    SCOPED_TRACE(target);
    Window w;
    SetWindowTextW(w.control(txtInputFileName), L"typed in.txt");
    SetWindowTextW(w.control(txtOutputFileName), L"typed out.txt");
    const std::wstring path = L"C:\\Empf\u00e4nger list #1.csv";
    SendMessageW(w.window(), WM_DROPFILES,
                 reinterpret_cast<WPARAM>(droppedFiles(path, centreOf(w.window(), w.control(target)))), 0);
    EXPECT_EQ(textOf(w.control(txtInputFileName)), box == txtInputFileName ? path : L"typed in.txt");
    EXPECT_EQ(textOf(w.control(txtOutputFileName)), box == txtOutputFileName ? path : L"typed out.txt");
    EXPECT_EQ(textOf(w.control(txtSeparator)), L",");
  }
}

TEST(Win32Window, BrowseButtonsShareOneDialogThatChangesNothingWhenCancelled) {
  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  const std::wstring folder = std::wstring(program).substr(0, std::wstring(program).find_last_of(L"\\/"));
  Window w;
  SetWindowTextW(w.control(txtInputFileName), L"typed.txt");
  // Cancelled: the box stays as it was.
  SendMessageW(w.control(cmdInputFile), BM_CLICK, 0, 0);
  EXPECT_EQ(textOf(w.control(txtInputFileName)), L"typed.txt");
  // Chosen: the path is the box's whole text, and the other button's dialog proposes it.
  w.choice = L"C:\\lists\\to-line.csv";
  SendMessageW(w.control(cmdInputFile), BM_CLICK, 0, 0);
  EXPECT_EQ(textOf(w.control(txtInputFileName)), L"C:\\lists\\to-line.csv");
  w.choice.reset();
  SendMessageW(w.control(cmdOutputFile), BM_CLICK, 0, 0);
  EXPECT_EQ(textOf(w.control(txtOutputFileName)), L"");
  ASSERT_EQ(w.dialogs.size(), 3u);
  for (const Chosen& dialog : w.dialogs) {
    EXPECT_EQ(dialog.folder, folder);
    EXPECT_EQ(dialog.filter, L"Text files (*.txt;*.csv)|*.txt;*.csv|");
    EXPECT_EQ((dialog.flags & OFN_OVERWRITEPROMPT) != 0, dialog.save);
    EXPECT_EQ(dialog.flags & (OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST), 0u);
  }
  EXPECT_EQ(w.dialogs[0].proposed, L"");  // a typed path is not offered
  EXPECT_EQ(w.dialogs[2].proposed, L"C:\\lists\\to-line.csv");
}

}  // namespace
}  // namespace tavrin
