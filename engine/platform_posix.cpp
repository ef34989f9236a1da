#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <locale.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <cwchar>
#include <string_view>

#include "engine/platform.hpp"

namespace tavrin {

namespace {

int descriptor(FileHandle file) {
  return static_cast<int>(file);
}

FileInfo infoOf(const struct stat& entry) {
  return {{static_cast<std::uint64_t>(entry.st_dev), static_cast<std::uint64_t>(entry.st_ino),
           S_ISREG(entry.st_mode)},
          S_ISDIR(entry.st_mode),
          S_ISREG(entry.st_mode) ? static_cast<std::uint64_t>(entry.st_size) : 0};
}

FileId idOf(const struct stat& entry) {
  return infoOf(entry).id;
}

Opened failed() {
  return {kNoFile, errno};
}

// The folder that holds `path`'s entry.
std::string folderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// What the signal handler needs, kept where it may read it safely.
char unfinishedPath[PATH_MAX];
dev_t unfinishedDevice;
ino_t unfinishedInode;
volatile std::sig_atomic_t outputUnfinished = 0;

constexpr int kCleanUpSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Only calls that are safe in a signal handler.
void removeIfStillUnfinished() {
  if (!outputUnfinished) return;
  struct stat entry {};
  if (::lstat(unfinishedPath, &entry) == 0 && S_ISREG(entry.st_mode) && entry.st_dev == unfinishedDevice &&
      entry.st_ino == unfinishedInode) {
    ::unlink(unfinishedPath);
  }
  outputUnfinished = 0;
}

extern "C" void removeUnfinishedOutputAndDie(int signal) {
  removeIfStillUnfinished();
  // The conventional end: killed by the signal, as the shell reports it.
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

std::optional<FileInfo> infoOf(const std::string& path) {
  struct stat entry {};
  if (::stat(path.c_str(), &entry) != 0) return std::nullopt;
  return infoOf(entry);
}

std::optional<FileInfo> infoOf(FileHandle file) {
  struct stat entry {};
  if (file == kNoFile || ::fstat(descriptor(file), &entry) != 0) return std::nullopt;
  return infoOf(entry);
}

Opened openForReading(const std::string& path) {
  // Without O_NONBLOCK the open of a named pipe would wait for its writer;
  // reads wait in waitForFile instead, where the front end stays alive.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return failed();
  struct stat entry {};
  if (::fstat(fd, &entry) == 0 && S_ISDIR(entry.st_mode)) {
    ::close(fd);
    return {kNoFile, EISDIR};
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return {fd, 0};
}

Opened copyOf(FileHandle inherited) {
  const int fd = ::fcntl(descriptor(inherited), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  return fd < 0 ? failed() : Opened{fd, 0};
}

namespace {

// The access list of a file, as the system stores it; "" when it has none.
// Nothing when it cannot be read, so that nobody is given what it kept from them.
std::optional<std::string> accessListOf(const std::string& path) {
  constexpr const char* kAccessList = "system.posix_acl_access";
  for (;;) {
    const ssize_t size = ::lgetxattr(path.c_str(), kAccessList, nullptr, 0);
    if (size < 0) {
      if (errno == ENODATA || errno == ENOTSUP) return std::string();
      return std::nullopt;
    }
    std::string list(static_cast<std::size_t>(size), '\0');
    const ssize_t read = ::lgetxattr(path.c_str(), kAccessList, list.data(), list.size());
    if (read >= 0) return list.substr(0, static_cast<std::size_t>(read));
    if (errno != ERANGE) return std::nullopt;  // it grew meanwhile: asked again
  }
}

OutputDecision refuse(int error, std::string reason) {
  return {OutputAction::Refuse, std::nullopt, std::nullopt, error, std::move(reason)};
}

OutputDecision decided(OutputAction action, const struct stat& entry,
                       std::optional<Ownership> replaced = {}) {
  return {action, idOf(entry), std::move(replaced), 0, {}};
}

// Whether the user may remove `entry` from `folder`, as unlink would judge.
bool canRemove(const std::string& folderName, const struct stat& folder, const struct stat& entry) {
  if (::faccessat(AT_FDCWD, folderName.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return false;
  const uid_t user = ::geteuid();
  return (folder.st_mode & S_ISVTX) == 0 || user == 0 || entry.st_uid == user || folder.st_uid == user;
}

// A file or named pipe of another user, in a folder that others than its
// owner may write, may have been put there to catch what is written to it,
// or to be given what replaces it.
bool isPlantedByAnotherUser(const struct stat& folder, const struct stat& entry) {
  return entry.st_uid != ::geteuid() && entry.st_uid != folder.st_uid &&
         (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

// Protected against writing, as rm sees it: for a normal user, not writable
// by them; for root, without any write permission.
bool isWriteProtected(const std::string& path, const struct stat& entry) {
  if (::geteuid() == 0) return (entry.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
}

OutputDecision decideLink(const std::string& path, const struct stat& link, bool removable) {
  // A link is removed, never written through: a dangling one would make
  // the new output somewhere else.
  struct stat target {};
  const bool leadsSomewhere = ::stat(path.c_str(), &target) == 0;
  if (leadsSomewhere && !S_ISREG(target.st_mode))
    return refuse(ELOOP, ", which is a link to no regular file");
  // /dev/stdout and its kin lead through /proc to a descriptor of this
  // process: they name where the output goes, not a file to replace.
  constexpr std::string_view kProc = "/proc/";
  char start[kProc.size()];
  const ssize_t size = ::readlink(path.c_str(), start, sizeof start);
  if (size == static_cast<ssize_t>(kProc.size()) && std::string_view(start, kProc.size()) == kProc)
    return refuse(ELOOP, ", which is a link to a descriptor");
  if (!removable) return refuse(EACCES, ", which is a link that cannot be removed");
  return decided(OutputAction::Replace, link);
}

OutputDecision decideRegularFile(const std::string& path, const struct stat& entry, bool removable) {
  struct statx attributes {};
  if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, 0, &attributes) == 0) {
    if (attributes.stx_attributes & STATX_ATTR_IMMUTABLE) return refuse(EPERM, ", which is immutable");
    if (attributes.stx_attributes & STATX_ATTR_APPEND) return refuse(EPERM, ", which is append-only");
  }
  if (isWriteProtected(path, entry)) return refuse(EACCES, ", which is write-protected");
  if (!removable) {
    // Written in place, every other name of it would show the new output.
    if (entry.st_nlink > 1)
      return refuse(EMLINK, ", which has other names (hard links) and cannot be removed");
    return decided(OutputAction::WriteInPlace, entry);
  }
  const std::optional<std::string> accessList = accessListOf(path);
  if (!accessList) return refuse(errno, ", whose access list cannot be read");
  return decided(OutputAction::Replace, entry,
                 Ownership{static_cast<std::uint32_t>(entry.st_mode & 0777), entry.st_uid, entry.st_gid,
                           ::geteuid() == 0, *accessList});
}

}  // namespace

OutputDecision decideOutput(const std::string& path) {
  struct stat entry {};
  // Nothing there, or a name that cannot be looked at: creating it says why.
  if (::lstat(path.c_str(), &entry) != 0) return {};
  const std::string folderName = folderOf(path);
  struct stat folder {};
  if (::stat(folderName.c_str(), &folder) != 0) return refuse(errno, ", whose folder cannot be looked at");
  const bool removable = canRemove(folderName, folder, entry);
  switch (entry.st_mode & S_IFMT) {
    case S_IFLNK:
      return decideLink(path, entry, removable);
    case S_IFDIR:
      return refuse(EISDIR, ", which is a folder");
    case S_IFBLK:
      return refuse(EOPNOTSUPP, ", which is a disk or a partition (a block device)");
    case S_IFSOCK:
      return refuse(ENXIO, ", which is a socket");
    case S_IFCHR:
      return decided(OutputAction::WriteInPlace, entry);
    default:
      break;
  }
  if (isPlantedByAnotherUser(folder, entry))
    return refuse(EACCES, ", which belongs to another user in a folder that others may write");
  if (S_ISFIFO(entry.st_mode)) return decided(OutputAction::WriteInPlace, entry);
  return decideRegularFile(path, entry, removable);
}

int removeOldOutput(const std::string& path, const OutputDecision& decision) {
  if (decision.action != OutputAction::Replace) return 0;
  struct stat entry {};
  if (::lstat(path.c_str(), &entry) != 0) return errno == ENOENT ? 0 : errno;
  if (idOf(entry) != *decision.entry) return EEXIST;
  return ::unlink(path.c_str()) == 0 || errno == ENOENT ? 0 : errno;
}

namespace {

// A new file that takes over what `replaced` had. A file that keeps others
// out by its access list gets the list before anyone but the user may open it.
int takeOver(int fd, const Ownership& replaced) {
  if (replaced.keepsOwner) (void)::fchown(fd, replaced.user, replaced.group);
  // Without the umask, as it was; set-user and set-group bits excepted.
  ::fchmod(fd, replaced.mode);
  if (!replaced.accessList.empty() && ::fsetxattr(fd, "system.posix_acl_access", replaced.accessList.data(),
                                                  replaced.accessList.size(), 0) != 0)
    return errno;
  return 0;
}

}  // namespace

Opened openOutput(const std::string& path, const OutputDecision& decision) {
  if (decision.action == OutputAction::Refuse) return {kNoFile, decision.error};
  if (decision.action != OutputAction::WriteInPlace) {
    const std::optional<Ownership>& replaced = decision.replaced;
    // Only the user may open it until it has what it takes over.
    const mode_t mode = replaced ? (replaced->accessList.empty() ? replaced->mode : 0600) : 0666;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return failed();
    if (replaced) {
      if (const int error = takeOver(fd, *replaced); error != 0) {
        ::unlink(path.c_str());
        ::close(fd);
        return {kNoFile, error};
      }
    }
    return {fd, 0};
  }
  struct stat entry {};
  if (::lstat(path.c_str(), &entry) != 0) return failed();
  if (idOf(entry) != *decision.entry) return {kNoFile, EEXIST};
  // Without O_NONBLOCK the open of a named pipe would wait for its reader.
  const int fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return {kNoFile, errno == ENXIO && S_ISFIFO(entry.st_mode) ? EAGAIN : errno};
  struct stat opened {};
  if (::fstat(fd, &opened) != 0 || idOf(opened) != *decision.entry) {
    ::close(fd);
    return {kNoFile, EEXIST};
  }
  return {fd, 0};
}

int truncateFile(FileHandle file, std::uint64_t size) {
  return ::ftruncate(descriptor(file), static_cast<off_t>(size)) == 0 ? 0 : errno;
}

Moved readFrom(FileHandle file, char* into, std::size_t size) {
  for (;;) {
    const ssize_t count = ::read(descriptor(file), into, size);
    if (count >= 0) return {static_cast<std::size_t>(count), 0};
    if (errno != EINTR) return {0, errno};
  }
}

Moved writeTo(FileHandle file, const char* from, std::size_t size) {
  for (;;) {
    const ssize_t count = ::write(descriptor(file), from, size);
    if (count > 0) return {static_cast<std::size_t>(count), 0};
    if (count == 0) return {0, EIO};
    if (errno != EINTR) return {0, errno == EWOULDBLOCK ? EAGAIN : errno};
  }
}

bool waitForFile(FileHandle file, bool writing, std::chrono::milliseconds slice) {
  pollfd entry{descriptor(file), static_cast<short>(writing ? POLLOUT : POLLIN), 0};
  return ::poll(&entry, 1, static_cast<int>(slice.count())) > 0;
}

int closeFile(FileHandle file) noexcept {
  if (file == kNoFile) return 0;
  // Linux closes the descriptor also when close is interrupted.
  return ::close(descriptor(file)) == 0 || errno == EINTR ? 0 : errno;
}

std::string describeError(int number) {
  return std::strerror(number);
}

ClosedAtStart guardProcess() {
  ClosedAtStart closed{};
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1) {
      closed[fd] = true;
      // open takes the lowest free number, which is this one.
      ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    }
  }
  // A signal that the program was started with ignored stays ignored.
  for (const int signal : kCleanUpSignals) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = removeUnfinishedOutputAndDie;
    sigemptyset(&action.sa_mask);
    for (const int other : kCleanUpSignals) sigaddset(&action.sa_mask, other);
    ::sigaction(signal, &action, nullptr);
  }
  // Past a file size limit, writes fail with EFBIG, and to a pipe that
  // nobody reads any more with EPIPE; both are reported, instead of the
  // signal ending the program with a cut output.
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
  return closed;
}

void markOutputUnfinished(const std::string& path, FileHandle file) {
  struct stat entry {};
  if (path.size() >= sizeof unfinishedPath || path.find('\0') != std::string::npos ||
      ::fstat(descriptor(file), &entry) != 0 || !S_ISREG(entry.st_mode)) {
    return;
  }
  outputUnfinished = 0;
  std::memcpy(unfinishedPath, path.data(), path.size());
  unfinishedPath[path.size()] = '\0';
  unfinishedDevice = entry.st_dev;
  unfinishedInode = entry.st_ino;
  outputUnfinished = 1;
}

void markOutputFinished() noexcept {
  outputUnfinished = 0;
}

void removeUnfinishedOutput(FileHandle file) noexcept {
  removeIfStillUnfinished();
  closeFile(file);
}

}  // namespace tavrin
