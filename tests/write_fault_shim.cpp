// Loaded with LD_PRELOAD into tavrin-cli to make writes fail as a full or
// broken disk would. TAVRIN_FAIL_WRITES="FIRST,COUNT,ERRNO": the writes to
// descriptors other than standard error, counted from 1, from FIRST on fail
// with ERRNO, COUNT of them (0: all).

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

struct Fault {
  long first = 0;
  long count = 0;
  int number = 0;
};

Fault fault() {
  static const Fault parsed = [] {
    Fault f;
    const char* text = std::getenv("TAVRIN_FAIL_WRITES");
    if (text == nullptr || std::sscanf(text, "%ld,%ld,%d", &f.first, &f.count, &f.number) != 3) f.first = 0;
    return f;
  }();
  return parsed;
}

long writes = 0;

}  // namespace

extern "C" ssize_t write(int fd, const void* bytes, size_t size) {
  using Write = ssize_t (*)(int, const void*, size_t);
  static const auto realWrite = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "write"));
  const Fault f = fault();
  if (fd != STDERR_FILENO && f.first > 0) {
    const long index = ++writes;
    if (index >= f.first && (f.count == 0 || index < f.first + f.count)) {
      errno = f.number;
      return -1;
    }
  }
  return realWrite(fd, bytes, size);
}
