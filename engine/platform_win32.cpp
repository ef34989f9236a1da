// windows.h first: the other system headers build on it.
// clang-format off
#include <windows.h>
#include <shellapi.h>
// clang-format on

#include "engine/platform_win32.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <string_view>

#include "engine/platform.hpp"

namespace tavrin {

namespace {

// Names are UTF-8 inside the program and UTF-16 for Windows.
std::wstring wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring converted(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), converted.data(), size);
  return converted;
}

// The errno number that stands for a Windows error, so that reports read as
// on POSIX.
int errnoOf(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_INVALID_NAME:
      return EINVAL;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    // The reader is gone: a closed pipe (109, 232), or one whose other end
    // has disconnected it (233, which Wine gives for a closed POSIX pipe).
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
    case ERROR_PIPE_NOT_CONNECTED:
      return EPIPE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_FILE_TOO_LARGE:
      return EFBIG;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_CANT_RESOLVE_FILENAME:
      return ELOOP;
    default:
      return EIO;
  }
}

// Windows' own words for an error whose errno number's would mislead: a
// name with ?, *, |, <, > or " is no missing file. Without the full stop, as
// the C library's words stand.
std::string wordsOf(DWORD error) {
  if (error != ERROR_INVALID_NAME) return {};
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words = text != nullptr ? utf8(text) : std::string();
  LocalFree(text);
  words.erase(words.find_last_not_of(" .\r\n") + 1);
  return words;
}

Opened failed() {
  const DWORD error = GetLastError();
  return {kNoFile, errnoOf(error), wordsOf(error)};
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Whether a name stands for a file or folder of a disk. Opening anything
// else only to learn what it is could have effects of its own: a named pipe
// would take the opener for its one reader.
bool isOnDisk(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Whether a handle is a pipe that does not tell how much waits in it: a
// POSIX named pipe under Wine. A pipe whose writer has gone tells its end.
bool hidesWhatWaits(HANDLE handle) {
  if (GetFileType(handle) != FILE_TYPE_PIPE) return false;
  DWORD waiting = 0;
  if (PeekNamedPipe(handle, nullptr, 0, nullptr, &waiting, nullptr)) return false;
  const DWORD error = GetLastError();
  return error != ERROR_BROKEN_PIPE && error != ERROR_PIPE_NOT_CONNECTED;
}

// An entry itself, a link or a folder included, to learn what it is.
HANDLE openEntry(const std::wstring& path) {
  return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The output that a run created and has not finished, for an interrupt,
// which comes on a thread of its own.
std::atomic<HANDLE> unfinishedOutput{nullptr};

void removeIfStillUnfinished() {
  if (HANDLE output = unfinishedOutput.exchange(nullptr)) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    SetFileInformationByHandle(output, FileDispositionInfo, &disposition, sizeof disposition);
  }
}

}  // namespace

std::string utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string converted(static_cast<std::size_t>(size > 0 ? size - 1 : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, converted.data(), size, nullptr, nullptr);
  return converted;
}

std::optional<FileInfo> infoOf(const std::string& path) {
  const std::wstring name = wide(path);
  if (!isOnDisk(name)) return std::nullopt;
  const HANDLE entry = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (entry == INVALID_HANDLE_VALUE) return std::nullopt;
  const std::optional<FileInfo> info = infoOf(fileOf(entry));
  CloseHandle(entry);
  return info;
}

std::optional<FileInfo> infoOf(FileHandle file) {
  const HANDLE handle = handleOf(file);
  if (file == kNoFile || handle == nullptr) return std::nullopt;
  const DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return std::nullopt;
  // A device or a pipe: told apart by its kind only.
  if (type != FILE_TYPE_DISK) return FileInfo{{type, 0, false}, false, 0};
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(handle, &information)) return std::nullopt;
  const bool directory = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const std::uint64_t index = std::uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow;
  const std::uint64_t size = std::uint64_t{information.nFileSizeHigh} << 32 | information.nFileSizeLow;
  return FileInfo{{information.dwVolumeSerialNumber, index, !directory}, directory, directory ? 0 : size};
}

Opened openForReading(const std::string& path) {
  const std::wstring name = wide(path);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return {kNoFile, EISDIR};
  // Others may go on reading, writing and even deleting it meanwhile.
  const HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE && hidesWhatWaits(file)) {
    // Read with overlapped I/O, whose wait can be given up (see readFrom).
    const HANDLE overlapped = ReOpenFile(file, GENERIC_READ, kShareAll, FILE_FLAG_OVERLAPPED);
    if (overlapped != INVALID_HANDLE_VALUE) {
      CloseHandle(file);
      return {fileOf(overlapped), 0};
    }
  }
  if (file != INVALID_HANDLE_VALUE) return {fileOf(file), 0};
  // A name whose device is not there (CON in a program that has none) fails as a
  // closed handle would.
  if (GetLastError() == ERROR_INVALID_HANDLE) return {kNoFile, ENXIO};
  return failed();
}

Opened copyOf(FileHandle inherited) {
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), handleOf(inherited), GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS)) {
    return failed();
  }
  return {fileOf(copy), 0};
}

namespace {

OutputDecision refuse(int error, std::string reason) {
  return {OutputAction::Refuse, std::nullopt, std::nullopt, error, std::move(reason)};
}

bool equalsIgnoringCase(std::wstring_view text, std::wstring_view upper) {
  return text.size() == upper.size() && std::equal(text.begin(), text.end(), upper.begin(),
                                                   [](wchar_t a, wchar_t b) { return towupper(a) == b; });
}

// The device that a file name stands for whatever its folder and extension
// (CON, con.txt, C:\dir\AUX), as Windows has read such names; empty for others.
std::wstring reservedDeviceOf(const std::wstring& path) {
  std::wstring_view name = path;
  name.remove_prefix(std::min(name.size(), name.find_last_of(L"\\/:") + 1));
  name = name.substr(0, name.find(L'.'));
  while (!name.empty() && name.back() == L' ') name.remove_suffix(1);
  for (const std::wstring_view device : {L"NUL", L"CON", L"AUX", L"PRN", L"CONIN$", L"CONOUT$"}) {
    if (equalsIgnoringCase(name, device)) return std::wstring(device);
  }
  if (name.size() == 4 && name[3] >= L'1' && name[3] <= L'9' &&
      (equalsIgnoringCase(name.substr(0, 3), L"COM") || equalsIgnoringCase(name.substr(0, 3), L"LPT"))) {
    std::wstring device(name);
    for (wchar_t& c : device) c = towupper(c);
    return device;
  }
  return {};
}

// Whether a name is in the device namespace: \\.\PhysicalDrive0, \\.\C:,
// \\?\GLOBALROOT\Device\..., or \\?\ followed by anything but a drive or a
// share, which are files.
bool namesADevice(std::wstring path) {
  std::replace(path.begin(), path.end(), L'/', L'\\');
  if (path.starts_with(L"\\\\.\\")) return true;
  if (!path.starts_with(L"\\\\?\\")) return false;
  const std::wstring_view rest = std::wstring_view(path).substr(4);
  const bool drive = rest.size() >= 2 && rest[1] == L':' && iswalpha(rest[0]);
  return !drive && !equalsIgnoringCase(rest.substr(0, 4), L"UNC\\");
}

std::wstring_view lastPart(std::wstring_view path) {
  return path.substr(std::min(path.size(), path.find_last_of(L"\\/") + 1));
}

// Under Wine a POSIX link is no reparse point: its entry opens as the file it
// leads to, and removing it removes that file. The file's own name tells.
bool isLinkUnderWine(HANDLE entry, const std::wstring& name) {
  static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  if (!wine) return false;
  wchar_t full[MAX_PATH * 4];
  wchar_t final[MAX_PATH * 4];
  const DWORD fullSize = GetFullPathNameW(name.c_str(), std::size(full), full, nullptr);
  const DWORD finalSize = GetFinalPathNameByHandleW(entry, final, std::size(final), FILE_NAME_NORMALIZED);
  if (fullSize == 0 || fullSize >= std::size(full) || finalSize == 0 || finalSize >= std::size(final))
    return false;
  const std::wstring_view asked = lastPart({full, fullSize});
  const std::wstring_view found = lastPart({final, finalSize});
  return CompareStringOrdinal(asked.data(), static_cast<int>(asked.size()), found.data(),
                              static_cast<int>(found.size()), TRUE) != CSTR_EQUAL;
}

}  // namespace

OutputDecision decideOutput(const std::string& path) {
  const std::wstring name = wide(path);
  if (namesADevice(name))
    return refuse(EOPNOTSUPP, ", which names a device, a disk or a partition, not a file");
  if (const std::wstring device = reservedDeviceOf(name); !device.empty()) {
    // The null device takes the output as /dev/null does.
    if (device == L"NUL") return {OutputAction::WriteInPlace, std::nullopt, std::nullopt, 0, {}};
    return refuse(ENODEV, ", which is the Windows device " + utf8(device.c_str()) + ", not a file");
  }
  // What is left is a name on a disk; its entry, a link included, is looked
  // at. Nothing there, or a name that cannot be looked at: creating it says why.
  const HANDLE entry = openEntry(name);
  if (entry == INVALID_HANDLE_VALUE) return {};
  const std::optional<FileInfo> info = infoOf(fileOf(entry));
  FILE_ATTRIBUTE_TAG_INFO tag{};
  const bool tagged = GetFileInformationByHandleEx(entry, FileAttributeTagInfo, &tag, sizeof tag);
  const bool wineLink = info && !info->directory && isLinkUnderWine(entry, name);
  CloseHandle(entry);
  if (!info || !tagged) return refuse(EIO, "");
  if (wineLink)
    return refuse(ELOOP, ", which is a link: under Wine it cannot be removed without what it leads to");
  if (info->directory && !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return refuse(EISDIR, ", which is a folder");
  // A link (a symbolic link, a junction) is removed itself, never written through.
  if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return {OutputAction::Replace, info->id, std::nullopt, 0, {}};
  if (!info->id.regular) return {OutputAction::WriteInPlace, info->id, std::nullopt, 0, {}};
  if (tag.FileAttributes & FILE_ATTRIBUTE_READONLY) return refuse(EACCES, ", which is write-protected");
  // New files take their permissions from their folder: nothing carries over.
  return {OutputAction::Replace, info->id, std::nullopt, 0, {}};
}

int removeOldOutput(const std::string& path, const OutputDecision& decision) {
  if (decision.action != OutputAction::Replace) return 0;
  // Through a handle of the entry itself: DeleteFileW on a link removes
  // what it leads to under Wine.
  const HANDLE entry =
      CreateFileW(wide(path).c_str(), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (entry == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : errnoOf(error);
  }
  const std::optional<FileInfo> info = infoOf(fileOf(entry));
  int error = 0;
  if (!info || info->id != *decision.entry) {
    error = EEXIST;
  } else {
    // POSIX semantics where the system has them (Windows 10 1607 on): the
    // name goes at once. MinGW declares them only for builds that need that
    // Windows, so by their documented values.
    constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
    constexpr DWORD kDeleteWithPosixSemantics = 0x1 | 0x2;
    DWORD disposition = kDeleteWithPosixSemantics;
    FILE_DISPOSITION_INFO plain{TRUE};
    if (!SetFileInformationByHandle(entry, kDispositionInfoEx, &disposition, sizeof disposition) &&
        !SetFileInformationByHandle(entry, FileDispositionInfo, &plain, sizeof plain)) {
      error = errnoOf(GetLastError());
    }
  }
  CloseHandle(entry);
  return error;
}

Opened openOutput(const std::string& path, const OutputDecision& decision) {
  if (decision.action == OutputAction::Refuse) return {kNoFile, decision.error};
  const std::wstring name = wide(path);
  if (decision.action != OutputAction::WriteInPlace) {
    // DELETE: a stopped run removes it through this handle.
    const HANDLE file =
        CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    return file == INVALID_HANDLE_VALUE ? failed() : Opened{fileOf(file), 0};
  }
  const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return failed();
  const std::optional<FileInfo> info = infoOf(fileOf(file));
  if (decision.entry && (!info || info->id != *decision.entry)) {
    CloseHandle(file);
    return {kNoFile, EEXIST};
  }
  return {fileOf(file), 0};
}

int truncateFile(FileHandle file, std::uint64_t size) {
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(handleOf(file), end, nullptr, FILE_BEGIN) || !SetEndOfFile(handleOf(file))) {
    return errnoOf(GetLastError());
  }
  return 0;
}

namespace {

Moved readFailed(DWORD error) {
  // A pipe whose writer has gone has come to its end.
  if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return {0, 0};
  return {0, errnoOf(error)};
}

// Reads what comes within kWaitSlice, then gives up the read (EAGAIN), so
// that a pipe that cannot be looked into never blocks the program's thread.
// A read that came meanwhile is kept: giving up only ends one that has not.
Moved readWithin(HANDLE handle, char* into, DWORD asked) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (overlapped.hEvent == nullptr) return readFailed(GetLastError());
  DWORD count = 0;
  DWORD error = ERROR_SUCCESS;
  if (!ReadFile(handle, into, asked, nullptr, &overlapped)) error = GetLastError();
  if (error == ERROR_IO_PENDING) {
    if (WaitForSingleObject(overlapped.hEvent, static_cast<DWORD>(kWaitSlice.count())) == WAIT_TIMEOUT)
      CancelIoEx(handle, &overlapped);
    error = GetOverlappedResult(handle, &overlapped, &count, TRUE) ? ERROR_SUCCESS : GetLastError();
  } else if (error == ERROR_SUCCESS) {
    GetOverlappedResult(handle, &overlapped, &count, FALSE);
  }
  CloseHandle(overlapped.hEvent);
  if (error == ERROR_OPERATION_ABORTED) return {0, EAGAIN};
  return error == ERROR_SUCCESS ? Moved{count, 0} : readFailed(error);
}

}  // namespace

Moved readFrom(FileHandle file, char* into, std::size_t size) {
  const HANDLE handle = handleOf(file);
  const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(size, 1 << 30));
  if (hidesWhatWaits(handle)) return readWithin(handle, into, asked);
  DWORD count = 0;
  if (ReadFile(handle, into, asked, &count, nullptr)) return {count, 0};
  return readFailed(GetLastError());
}

Moved writeTo(FileHandle file, const char* from, std::size_t size) {
  DWORD count = 0;
  const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(size, 1 << 30));
  if (!WriteFile(handleOf(file), from, asked, &count, nullptr)) return {0, errnoOf(GetLastError())};
  return count > 0 ? Moved{count, 0} : Moved{0, EIO};
}

bool waitForFile(FileHandle file, bool writing, std::chrono::milliseconds slice) {
  const HANDLE handle = handleOf(file);
  if (writing) return true;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode))  // typed input, which a wait sees
    return WaitForSingleObject(handle, static_cast<DWORD>(slice.count())) == WAIT_OBJECT_0;
  // A pipe signals nothing: it is looked at now and then. One that cannot
  // be looked into is waited for by the read itself.
  if (GetFileType(handle) != FILE_TYPE_PIPE || hidesWhatWaits(handle)) return true;
  const auto end = std::chrono::steady_clock::now() + slice;
  do {
    DWORD waiting = 0;
    if (!PeekNamedPipe(handle, nullptr, 0, nullptr, &waiting, nullptr) || waiting > 0) return true;
    Sleep(5);
  } while (std::chrono::steady_clock::now() < end);
  return false;
}

int closeFile(FileHandle file) noexcept {
  if (file == kNoFile) return 0;
  return CloseHandle(handleOf(file)) ? 0 : errnoOf(GetLastError());
}

namespace {

// The installer and the uninstaller change nothing in a folder whose program
// runs: they find it by this mutex, named after the folder in capitals with
// "/" for "\\". Its handle is never closed: the program holds it until it ends.
void markFolderInUse() {
  std::wstring folder(32768, L'\0');
  folder.resize(GetModuleFileNameW(nullptr, folder.data(), static_cast<DWORD>(folder.size())));
  const std::size_t name = folder.find_last_of(L'\\');
  folder.resize(name == std::wstring::npos ? 0 : name);
  CharUpperBuffW(folder.data(), static_cast<DWORD>(folder.size()));
  std::replace(folder.begin(), folder.end(), L'\\', L'/');
  CreateMutexW(nullptr, FALSE, (L"Local\\Tavrin in " + folder).c_str());
}

}  // namespace

ClosedAtStart guardProcess() {
  markFolderInUse();
  constexpr DWORD kStandard[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  ClosedAtStart closed{};
  for (std::size_t i = 0; i < closed.size(); ++i) {
    const DWORD standard = kStandard[i];
    const HANDLE handle = GetStdHandle(standard);
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) continue;
    closed[i] = true;
    const HANDLE nothing =
        CreateFileW(L"NUL", standard == STD_INPUT_HANDLE ? GENERIC_READ : GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    SetStdHandle(standard, nothing);
  }
  return closed;
}

void markOutputUnfinished(const std::string&, FileHandle file) {
  unfinishedOutput = handleOf(file);
}

void markOutputFinished() noexcept {
  unfinishedOutput = nullptr;
}

void removeUnfinishedOutput(FileHandle file) noexcept {
  removeIfStillUnfinished();
  closeFile(file);
}

std::string describeError(int number) {
  // The C library of Windows knows no words for a few numbers.
  switch (number) {
    case EOVERFLOW:
      return "Value too large for defined data type";
    case ELOOP:
      return "Too many levels of symbolic links";
    default:
      return std::strerror(number);
  }
}

}  // namespace tavrin
