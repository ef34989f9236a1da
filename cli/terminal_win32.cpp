// windows.h first: the other system headers build on it.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include <atomic>
#include <cstdlib>

#include "cli/terminal.hpp"
#include "engine/platform_win32.hpp"

namespace tavrin {

namespace {

// Read by the console's handler, which runs on a thread of its own.
std::atomic<HANDLE> progressLine{nullptr};  // the console that shows a progress line
HANDLE mainThread = nullptr;                // the thread that draws the progress line
UINT consoleCodePage = 0;                   // the console's own, given back at the end

void restoreConsole() {
  if (consoleCodePage != 0) SetConsoleOutputCP(consoleCodePage);
}

// The progress line is the cursor's row: blanked, with the cursor at its start.
void clearProgressLine() {
  const HANDLE console = progressLine.exchange(nullptr);
  CONSOLE_SCREEN_BUFFER_INFO information{};
  if (console == nullptr || !GetConsoleScreenBufferInfo(console, &information)) return;
  const COORD start{0, information.dwCursorPosition.Y};
  DWORD written = 0;
  FillConsoleOutputCharacterW(console, L' ', static_cast<DWORD>(information.dwSize.X), start, &written);
  SetConsoleCursorPosition(console, start);
}

// Ctrl-C, Ctrl-Break, a closed console, the end of the session: the program
// stops where it is, so that it draws no more; its progress line goes, the
// unfinished output is removed once its last handle closes, which ending the
// program does, and the status is Windows' own for an interrupted console
// program (Wine's default handler would end with 0). The stopped thread may
// hold the C library's locks: the program ends without its exit handlers.
BOOL WINAPI endOnInterrupt(DWORD) {
  if (mainThread != nullptr) SuspendThread(mainThread);
  clearProgressLine();
  removeUnfinishedOutput(kNoFile);
  restoreConsole();
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

}  // namespace

void guardTerminal() {
  mainThread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, GetCurrentThreadId());
  SetConsoleCtrlHandler(endOnInterrupt, TRUE);
  consoleCodePage = GetConsoleOutputCP();
  if (consoleCodePage != 0) {
    SetConsoleOutputCP(CP_UTF8);
    std::atexit(restoreConsole);
  }
}

Terminal openTerminal(const std::string& name) {
  if (name.empty()) return {};
  constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
  const HANDLE input =
      CreateFileW(L"CONIN$", kAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  const HANDLE output = CreateFileW(L"CONOUT$", kAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  if (input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE) return {fileOf(input), fileOf(output)};
  if (input != INVALID_HANDLE_VALUE) CloseHandle(input);
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  return {};
}

void closeTerminal(const Terminal& terminal) noexcept {
  closeFile(terminal.input);
  closeFile(terminal.output);
}

int terminalColumns(FileHandle file) {
  CONSOLE_SCREEN_BUFFER_INFO information{};
  if (file == kNoFile || !GetConsoleScreenBufferInfo(handleOf(file), &information)) return 0;
  return information.srWindow.Right - information.srWindow.Left + 1;
}

std::vector<FileHandle> openDescriptors() {
  return {};
}

void markProgressLine(FileHandle terminal) noexcept {
  progressLine = terminal == kNoFile ? nullptr : handleOf(terminal);
}

std::vector<std::string> programArguments(int, char**) {
  int count = 0;
  wchar_t** const arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> converted;
  for (int i = 1; i < count; ++i) converted.push_back(utf8(arguments[i]));
  LocalFree(arguments);
  return converted;
}

FileHandle standardHandle(int which) {
  constexpr DWORD kStandard[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  return fileOf(GetStdHandle(kStandard[which]));
}

bool isTerminal(FileHandle file) {
  DWORD mode = 0;
  return GetConsoleMode(handleOf(file), &mode) != 0;
}

bool takesEscapes(FileHandle terminal) {
  DWORD mode = 0;
  return GetConsoleMode(handleOf(terminal), &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

std::string ownTerminalName() {
  return "CON";
}

bool hasDescriptorNames() {
  return false;
}

}  // namespace tavrin
