#include "engine/text_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <new>

#include "engine/byte_scan.hpp"
#include "engine/failure.hpp"
#include "engine/process_guard.hpp"
#include "engine/text.hpp"

namespace tavrin {

namespace {

// Each read is marked, then its lines are split and copied: a read this size
// is still in the processor's cache for the later passes.
constexpr std::size_t kChunk = std::size_t{1} << 18;
// An output that refuses this many writes in a row, with nothing taken in
// between, is given up: the run ends instead of failing line after line.
constexpr int kRefusalsBeforeGivingUp = 8;

std::string_view byteOrderMark(Encoding encoding) {
  switch (encoding) {
    case Encoding::Utf8WithBom:
      return "\xEF\xBB\xBF";
    case Encoding::Utf16LittleEndian:
      return "\xFF\xFE";
    case Encoding::Utf16BigEndian:
      return "\xFE\xFF";
    case Encoding::Utf8:
      break;
  }
  return {};
}

bool isUtf16(Encoding encoding) {
  return encoding == Encoding::Utf16LittleEndian || encoding == Encoding::Utf16BigEndian;
}

// Lone surrogates are written like other code points, so a UTF-16 file that
// holds one keeps it on its way through the program.
std::size_t encodeUtf8(char32_t code, char* out) {
  if (code < 0x80) {
    out[0] = static_cast<char>(code);
    return 1;
  }
  if (code < 0x800) {
    out[0] = static_cast<char>(0xC0 | (code >> 6));
    out[1] = static_cast<char>(0x80 | (code & 0x3F));
    return 2;
  }
  if (code < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (code >> 12));
    out[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (code >> 18));
  out[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (code & 0x3F));
  return 4;
}

FileId fileIdOf(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino),
          S_ISREG(info.st_mode)};
}

// A copy of an inherited descriptor, so that closing it leaves the program's own.
int copyOf(int fd) {
  return ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
}

std::string fileAction(std::string_view action, std::string_view role, const std::string& path) {
  std::string text(action);
  text += " the ";
  text += role;
  text += " file \"";
  text += path;
  text += '"';
  return text;
}

}  // namespace

PageBuffer pageBuffer(std::size_t size) {
  void* const bytes = std::aligned_alloc(kPageSize, (size + kPageSize - 1) / kPageSize * kPageSize);
  if (bytes == nullptr) throw std::bad_alloc();
  return PageBuffer(static_cast<char*>(bytes));
}

std::optional<FileId> fileIdOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return fileIdOf(info);
}

std::optional<FileId> fileIdOf(int fd) {
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) return std::nullopt;
  return fileIdOf(info);
}

void TextReader::fail(int number, std::string_view what) {
  m_failed = true;
  throw fileFailure(number, fileAction(what, "input", m_path));
}

void TextReader::open(const std::string& path) {
  m_path = path;
  m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (m_fd < 0) fail(errno, "Cannot open");
  start();
}

void TextReader::adopt(int fd, const std::string& name) {
  m_path = name;
  m_fd = copyOf(fd);
  if (m_fd < 0) fail(errno, "Cannot open");
  start();
}

void TextReader::start() {
  struct stat info {};
  if (::fstat(m_fd, &info) != 0) fail(errno, "Cannot open");
  if (S_ISDIR(info.st_mode)) fail(EISDIR, "Cannot open");
  if (S_ISREG(info.st_mode)) m_fileSize = static_cast<std::uint64_t>(info.st_size);

  // Enough bytes to recognise a byte order mark.
  makeRoom(kChunk);
  while (m_end < 3 && !m_endOfFile) m_end += readRaw(m_buffer.get() + m_end, m_capacity - m_end);
  const std::string_view start(m_buffer.get(), m_end);
  for (const Encoding encoding :
       {Encoding::Utf8WithBom, Encoding::Utf16LittleEndian, Encoding::Utf16BigEndian}) {
    if (start.starts_with(byteOrderMark(encoding))) {
      m_encoding = encoding;
      m_begin = byteOrderMark(encoding).size();
      break;
    }
  }
  if (isUtf16(m_encoding)) {
    m_raw.assign(start.substr(m_begin));
    m_begin = m_end = 0;
    decodeUtf16(m_endOfFile);
  }
  m_lineStart = m_begin;
  markLineEnds();
}

void TextReader::close() noexcept {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

std::size_t TextReader::readRaw(char* into, std::size_t size) {
  for (;;) {
    const ssize_t count = ::read(m_fd, into, size);
    if (count > 0) {
      m_bytesRead += static_cast<std::uint64_t>(count);
      return static_cast<std::size_t>(count);
    }
    if (count == 0) {
      m_endOfFile = true;
      return 0;
    }
    if (errno != EINTR) fail(errno, "Cannot read");
  }
}

void TextReader::makeRoom(std::size_t bytes) {
  if (m_capacity - m_end >= bytes) return;
  if (m_beforeMove) m_beforeMove();
  // Keep the current line (the line report quotes it) and what follows it,
  // put so that they end on a block: the kernel copies the next read faster
  // into an aligned place.
  const std::size_t keep = m_end - m_lineStart;
  const std::size_t pad = (kBlockSize - keep % kBlockSize) % kBlockSize;
  if (pad + keep + bytes <= m_capacity) {
    std::memmove(m_buffer.get() + pad, m_buffer.get() + m_lineStart, keep);
  } else {
    const std::size_t capacity = std::max(2 * m_capacity, pad + keep + bytes);
    PageBuffer buffer = pageBuffer(capacity + kReadablePast);
    std::memset(buffer.get(), 0, pad);
    if (keep > 0) std::memcpy(buffer.get() + pad, m_buffer.get() + m_lineStart, keep);
    m_buffer = std::move(buffer);
    m_lineEnds = std::make_unique_for_overwrite<std::uint64_t[]>(capacity / kBlockSize + 1);
    m_capacity = capacity;
  }
  const std::size_t lineStart = m_lineStart;
  for (std::size_t* offset : {&m_lineStart, &m_begin, &m_end, &m_searched})
    *offset = *offset >= lineStart ? *offset - lineStart + pad : pad;
  m_marked = 0;  // the kept bytes are marked again with those read next
}

void TextReader::markLineEnds() {
  const std::size_t blocks = m_end / kBlockSize - m_marked / kBlockSize;
  blockScanner().markLineEnds(m_buffer.get() + m_marked, blocks, m_lineEnds.get() + m_marked / kBlockSize);
  m_marked += blocks * kBlockSize;
}

void TextReader::fill() {
  if (m_endOfFile) return;
  if (!isUtf16(m_encoding)) {
    makeRoom(kChunk);
    m_end += readRaw(m_buffer.get() + m_end, kChunk);
  } else {
    const std::size_t carried = m_raw.size();
    m_raw.resize(carried + kChunk);
    m_raw.resize(carried + readRaw(m_raw.data() + carried, kChunk));
    decodeUtf16(m_endOfFile);
  }
  markLineEnds();
}

void TextReader::decodeUtf16(bool atEnd) {
  makeRoom(m_raw.size() / 2 * 3 + 4);
  const auto* bytes = reinterpret_cast<const unsigned char*>(m_raw.data());
  const bool little = m_encoding == Encoding::Utf16LittleEndian;
  auto unitAt = [&](std::size_t i) -> char32_t {
    return little ? bytes[i] | (bytes[i + 1] << 8) : (bytes[i] << 8) | bytes[i + 1];
  };
  char* out = m_buffer.get() + m_end;
  std::size_t i = 0;
  while (i + 2 <= m_raw.size()) {
    char32_t code = unitAt(i);
    std::size_t size = 2;
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 4 <= m_raw.size()) {
        const char32_t low = unitAt(i + 2);
        if (low >= 0xDC00 && low <= 0xDFFF) {
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
          size = 4;
        }
      } else if (!atEnd) {
        break;  // the low half may come with the next read
      }
    }
    out += encodeUtf8(code, out);
    i += size;
  }
  m_end = static_cast<std::size_t>(out - m_buffer.get());
  m_raw.erase(0, i);  // an odd byte at the end of the file stays here
}

std::size_t TextReader::findLineEnd() {
  std::size_t from = std::max(m_begin, m_searched);
  const std::size_t marked = findMarkedLineEnd(from);
  if (marked != kNotFound) return marked;
  from = std::max(from, m_marked);
  // The bytes past the last whole block, not marked yet.
  if (from < m_end) {
    constexpr char kLineEnds[4] = {'\r', '\n', '\r', '\n'};
    std::uint64_t masks[4];
    blockScanner().eachOfFour(m_buffer.get() + from, m_end - from, kLineEnds, masks);
    const std::uint64_t ends = masks[0] | masks[1];
    if (ends != 0) return from + static_cast<std::size_t>(std::countr_zero(ends));
  }
  m_searched = m_end;
  return kNotFound;
}

bool TextReader::atEndOfBuffer() {
  for (;;) {
    if (m_skipLineFeed && m_begin < m_end) {
      if (m_buffer[m_begin] == '\n') ++m_begin;
      m_skipLineFeed = false;
    }
    if (m_begin < m_end) return false;
    if (m_endOfFile) {
      if (!m_raw.empty()) {
        m_raw.clear();
        fail(EILSEQ, "Cannot read the last character of");
      }
      return true;
    }
    fill();
  }
}

std::string_view TextReader::scanForLine() {
  if (atEnd()) {
    m_lineStart = m_begin;
    m_lineSize = 0;
    return line();
  }
  for (;;) {
    const std::size_t end = findLineEnd();
    if (end != kNotFound) return takeLine(end);
    if (m_endOfFile) {
      // The last line, without a line end.
      m_lineStart = m_begin;
      m_lineSize = m_end - m_begin;
      m_skipLineFeed = false;
      m_begin = m_end;
      return line();
    }
    if (m_end - m_begin > kLongestLine) fail(EFBIG, "A line longer than 256 MiB stops reading");
    fill();
  }
}

TextWriter::~TextWriter() {
  abandon();
}

void TextWriter::open(const std::string& path) {
  m_path = path;
  m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  m_created = m_fd >= 0;
  // Something the old output's deletion left at the name; a symbolic link
  // put there meanwhile is not followed (ELOOP).
  if (m_fd < 0 && errno == EEXIST) m_fd = ::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (m_fd < 0) throw fileFailure(errno, fileAction("Cannot create", "output", m_path));
  if (m_created) markOutputUnfinished(m_path, m_fd);
}

void TextWriter::adopt(int fd, const std::string& name) {
  m_path = name;
  m_adopted = true;
  m_fd = copyOf(fd);
  if (m_fd < 0) throw fileFailure(errno, fileAction("Cannot write", "output", m_path));
}

void TextWriter::start(Encoding encoding) {
  m_encoding = encoding;
  m_utf16 = isUtf16(encoding);
  m_pendingCapacity = kFlushSize + kSpareRoom;
  m_pending = pageBuffer(m_pendingCapacity);
  if (m_created || m_adopted || !fileId().value_or(FileId{}).regular) return;
  if (::ftruncate(m_fd, 0) != 0) throw fileFailure(errno, fileAction("Cannot create", "output", m_path));
}

void TextWriter::writeLineSlowly(std::initializer_list<std::string_view> parts) {
  // Whole pages: the next write then starts at a page of the file, which
  // the kernel copies into faster.
  if (m_pendingSize >= kFlushSize) flush(m_pendingSize / kPageSize * kPageSize);
  if (m_bytesWritten == 0 && m_pendingSize == 0) appendBytes(byteOrderMark(m_encoding));
  if (!m_utf16) m_copyBelow = kFlushSize;
  if (m_utf16) {
    const std::size_t lineStart = m_pendingSize;
    try {
      for (const std::string_view part : parts) appendUtf16(part);
    } catch (const Failure&) {
      m_pendingSize = lineStart;  // no part of a refused line stays
      throw;
    }
    appendUtf16("\r\n");
    return;
  }
  std::size_t size = 2;
  for (const std::string_view part : parts) size += part.size();
  if (m_pendingCapacity - m_pendingSize < size) grow(size);
  char* out = m_pending.get() + m_pendingSize;
  for (const std::string_view part : parts) out = std::copy(part.begin(), part.end(), out);
  out[0] = '\r';
  out[1] = '\n';
  m_pendingSize += size;
}

void TextWriter::grow(std::size_t bytes) {
  const std::size_t capacity = std::max(2 * m_pendingCapacity, m_pendingSize + bytes);
  PageBuffer pending = pageBuffer(capacity);
  if (m_pendingSize > 0) std::memcpy(pending.get(), m_pending.get(), m_pendingSize);
  m_pending = std::move(pending);
  m_pendingCapacity = capacity;
}

void TextWriter::appendUtf16(std::string_view text) {
  const bool little = m_encoding == Encoding::Utf16LittleEndian;
  auto putUnit = [&](char32_t unit) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    const char bytes[2] = {little ? low : high, little ? high : low};
    appendBytes({bytes, 2});
  };
  for (std::size_t offset = 0; offset < text.size();) {
    const Character c = characterAt(text, offset);
    // Text read from a UTF-16 file is always well-formed; anything else has no UTF-16 form.
    if (!c.wellFormed) throw fileFailure(EILSEQ, fileAction("Cannot write", "output", m_path));
    if (c.code >= 0x10000) {
      putUnit(0xD800 + ((c.code - 0x10000) >> 10));
      putUnit(0xDC00 + ((c.code - 0x10000) & 0x3FF));
    } else {
      putUnit(c.code);
    }
    offset += c.size;
  }
}

void TextWriter::flush(std::size_t size) {
  std::size_t done = 0;
  int number = 0;
  while (done < size && number == 0) {
    const ssize_t count = ::write(m_fd, m_pending.get() + done, size - done);
    if (count > 0) {
      done += static_cast<std::size_t>(count);
    } else if (count == 0 || errno != EINTR) {
      number = count == 0 ? EIO : errno;
    }
  }
  if (done > 0) std::memmove(m_pending.get(), m_pending.get() + done, m_pendingSize - done);
  m_pendingSize -= done;
  m_bytesWritten += done;
  if (number == 0) {
    m_refusals = 0;
    return;
  }
  m_refusals = done > 0 ? 1 : m_refusals + 1;
  Failure failure = fileFailure(number, fileAction("Cannot write", "output", m_path));
  if (number == EPIPE || m_refusals >= kRefusalsBeforeGivingUp) failure.endingRun();
  throw failure;
}

void TextWriter::close() {
  if (m_fd < 0) return;
  flush(m_pendingSize);
  const int result = ::close(m_fd);
  m_fd = -1;
  markOutputFinished();
  if (result != 0) throw fileFailure(errno, fileAction("Cannot write", "output", m_path));
}

void TextWriter::abandon() noexcept {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_pendingSize = 0;
  markOutputFinished();
}

}  // namespace tavrin
