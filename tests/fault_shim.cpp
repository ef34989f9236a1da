// Loaded with LD_PRELOAD into tavrin-cli to make system calls fail as a full
// or broken disk, a closed pipe or a signal would.
//
// TAVRIN_FAULT="CALL:FIRST:COUNT:KIND[,...]": the calls named CALL (open,
// read, write, ftruncate, fchmod, fchown, fsync, close, unlink), counted from
// 1, from FIRST on fail, COUNT of them (0: all). KIND is an errno number, or
// "short" for a write or read that moves half of what it was asked (at
// least one byte), or "drip" for writes that take at most 1 KiB and fail
// with ENOSPC in turn, as a disk that frees a little now and then. Calls on standard input, output and error
// are neither counted nor failed: messages stay readable. TAVRIN_FAULT_COUNT=FILE: the number of each call is
// written there at exit.

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum Call { kOpen, kRead, kWrite, kFtruncate, kFchmod, kFchown, kFsync, kClose, kUnlink, kCalls };
constexpr const char* kNames[kCalls] = {"open",   "read",  "write", "ftruncate", "fchmod",
                                        "fchown", "fsync", "close", "unlink"};
constexpr int kShort = -1;
constexpr int kDrip = -2;

struct Fault {
  Call call = kCalls;
  long first = 0;
  long count = 0;
  int kind = 0;
};
constexpr int kMostFaults = 4;

struct Plan {
  Fault faults[kMostFaults];
  int size = 0;
};

const Plan& plan() {
  static const Plan parsed = [] {
    Plan p;
    const char* text = std::getenv("TAVRIN_FAULT");
    while (text != nullptr && *text != '\0' && p.size < kMostFaults) {
      char name[16] = {};
      char kind[16] = {};
      Fault f;
      int used = 0;
      if (std::sscanf(text, "%15[a-z]:%ld:%ld:%15[a-z0-9]%n", name, &f.first, &f.count, kind, &used) != 4)
        break;
      for (int c = 0; c < kCalls; ++c) {
        if (std::strcmp(name, kNames[c]) == 0) f.call = static_cast<Call>(c);
      }
      f.kind = std::strcmp(kind, "short") == 0  ? kShort
               : std::strcmp(kind, "drip") == 0 ? kDrip
                                                : std::atoi(kind);
      p.faults[p.size++] = f;
      text += used;
      if (*text == ',') ++text;
    }
    return p;
  }();
  return parsed;
}

long counts[kCalls];

struct CountWriter {
  ~CountWriter() {
    const char* path = std::getenv("TAVRIN_FAULT_COUNT");
    if (path == nullptr) return;
    if (FILE* file = std::fopen(path, "w")) {
      for (int c = 0; c < kCalls; ++c) std::fprintf(file, "%s %ld\n", kNames[c], counts[c]);
      std::fclose(file);
    }
  }
} countWriter;

// Counts the call; the fault's kind when it is to fail, else 0.
int faultFor(Call call, int fd) {
  if (fd >= 0 && fd <= STDERR_FILENO) return 0;
  const long index = ++counts[call];
  const Plan& p = plan();
  for (int i = 0; i < p.size; ++i) {
    const Fault& f = p.faults[i];
    if (f.call != call || index < f.first || (f.count != 0 && index >= f.first + f.count)) continue;
    if (f.kind != kDrip) return f.kind;
    return (index - f.first) % 2 == 0 ? kDrip : ENOSPC;
  }
  return 0;
}

template <typename Function>
Function real(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

int failWith(int kind) {
  errno = kind;
  return -1;
}

}  // namespace

extern "C" {

int open(const char* path, int flags, ...) {
  mode_t mode = 0;
  if (flags & (O_CREAT | O_TMPFILE)) {
    va_list arguments;
    va_start(arguments, flags);
    mode = va_arg(arguments, mode_t);
    va_end(arguments);
  }
  static const auto realOpen = real<int (*)(const char*, int, ...)>("open");
  if (const int kind = faultFor(kOpen, -1); kind > 0) return failWith(kind);
  return realOpen(path, flags, mode);
}

ssize_t read(int fd, void* bytes, size_t size) {
  static const auto realRead = real<ssize_t (*)(int, void*, size_t)>("read");
  const int kind = faultFor(kRead, fd);
  if (kind == kShort && size > 1) return realRead(fd, bytes, size / 2);
  if (kind > 0) return failWith(kind);
  return realRead(fd, bytes, size);
}

ssize_t write(int fd, const void* bytes, size_t size) {
  static const auto realWrite = real<ssize_t (*)(int, const void*, size_t)>("write");
  const int kind = faultFor(kWrite, fd);
  if (kind == kShort && size > 1) return realWrite(fd, bytes, size / 2);
  if (kind == kDrip) return realWrite(fd, bytes, size < 1024 ? size : 1024);
  if (kind > 0) return failWith(kind);
  return realWrite(fd, bytes, size);
}

int ftruncate(int fd, off_t size) {
  static const auto realFtruncate = real<int (*)(int, off_t)>("ftruncate");
  if (const int kind = faultFor(kFtruncate, fd); kind > 0) return failWith(kind);
  return realFtruncate(fd, size);
}

int fchmod(int fd, mode_t mode) {
  static const auto realFchmod = real<int (*)(int, mode_t)>("fchmod");
  if (const int kind = faultFor(kFchmod, fd); kind > 0) return failWith(kind);
  return realFchmod(fd, mode);
}

int fchown(int fd, uid_t user, gid_t group) {
  static const auto realFchown = real<int (*)(int, uid_t, gid_t)>("fchown");
  if (const int kind = faultFor(kFchown, fd); kind > 0) return failWith(kind);
  return realFchown(fd, user, group);
}

int fsync(int fd) {
  static const auto realFsync = real<int (*)(int)>("fsync");
  if (const int kind = faultFor(kFsync, fd); kind > 0) return failWith(kind);
  return realFsync(fd);
}

// The descriptor is gone whatever close reports, as on Linux.
int close(int fd) {
  static const auto realClose = real<int (*)(int)>("close");
  const int kind = faultFor(kClose, fd);
  const int result = realClose(fd);
  return kind > 0 ? failWith(kind) : result;
}

int unlink(const char* path) {
  static const auto realUnlink = real<int (*)(const char*)>("unlink");
  if (const int kind = faultFor(kUnlink, -1); kind > 0) return failWith(kind);
  return realUnlink(path);
}

}  // extern "C"
