#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "cli/terminal.hpp"

namespace tavrin {

Terminal openTerminal(const std::string& name) {
  if (name.empty()) return {};
  const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  return fd < 0 ? Terminal{} : Terminal{fd, fd};
}

void closeTerminal(const Terminal& terminal) noexcept {
  closeFile(terminal.input);
}

int terminalColumns(FileHandle file) {
  winsize size{};
  if (file == kNoFile || ::ioctl(static_cast<int>(file), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

std::vector<FileHandle> openDescriptors() {
  std::vector<FileHandle> open;
  DIR* const folder = ::opendir("/proc/self/fd");
  if (folder == nullptr) {
    for (int fd = 0; fd < 1024; ++fd) {
      if (::fcntl(fd, F_GETFD) != -1) open.push_back(fd);
    }
    return open;
  }
  while (const dirent* entry = ::readdir(folder)) {
    const int fd = std::atoi(entry->d_name);
    if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9' && fd != ::dirfd(folder)) open.push_back(fd);
  }
  ::closedir(folder);
  return open;
}

std::vector<std::string> programArguments(int argc, char** argv) {
  return {argv + std::min(argc, 1), argv + argc};
}

FileHandle standardHandle(int which) {
  return which;
}

bool isTerminal(FileHandle file) {
  return ::isatty(static_cast<int>(file)) == 1;
}

bool takesEscapes(FileHandle) {
  const char* const term = std::getenv("TERM");
  return term != nullptr && std::string_view(term) != "dumb";
}

bool hasDescriptorNames() {
  return true;
}

std::string ownTerminalName() {
  return "/dev/tty";
}

void guardTerminal() {}

void markProgressLine(FileHandle) noexcept {}

}  // namespace tavrin
