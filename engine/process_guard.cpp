#include "engine/process_guard.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

namespace tavrin {

namespace {

// What the signal handler needs, kept where it may read it safely.
char unfinishedPath[PATH_MAX];
dev_t unfinishedDevice;
ino_t unfinishedInode;
volatile std::sig_atomic_t outputUnfinished = 0;

constexpr int kCleanUpSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removeUnfinishedOutput(int signal) {
  if (outputUnfinished) {
    struct stat entry {};
    if (::lstat(unfinishedPath, &entry) == 0 && S_ISREG(entry.st_mode) && entry.st_dev == unfinishedDevice &&
        entry.st_ino == unfinishedInode) {
      ::unlink(unfinishedPath);
    }
  }
  // The conventional end: killed by the signal, as the shell reports it.
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

void guardProcess() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1) {
      // open takes the lowest free number, which is this one.
      ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
  }
  for (const int signal : kCleanUpSignals) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = removeUnfinishedOutput;
    sigemptyset(&action.sa_mask);
    for (const int other : kCleanUpSignals) sigaddset(&action.sa_mask, other);
    ::sigaction(signal, &action, nullptr);
  }
}

void markOutputUnfinished(std::string_view path, int fd) {
  struct stat info {};
  if (path.size() >= sizeof unfinishedPath || path.find('\0') != std::string_view::npos ||
      ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    return;
  }
  outputUnfinished = 0;
  std::memcpy(unfinishedPath, path.data(), path.size());
  unfinishedPath[path.size()] = '\0';
  unfinishedDevice = info.st_dev;
  unfinishedInode = info.st_ino;
  outputUnfinished = 1;
}

void markOutputFinished() {
  outputUnfinished = 0;
}

}  // namespace tavrin
