#include "engine/text_file.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "engine/byte_scan.hpp"
#include "engine/failure.hpp"
#include "engine/shown_text.hpp"
#include "engine/text.hpp"

namespace tavrin {

namespace {

// Each read is marked, then its lines are split and copied: a read this size
// is still in the processor's cache for the later passes.
constexpr std::size_t kChunk = std::size_t{1} << 18;

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

// Writes until the file takes something or fails, waiting on it while it
// takes nothing (EAGAIN).
Moved whenWritable(FileHandle file, const WhileWaiting& whileWaiting, const char* bytes, std::size_t size) {
  for (;;) {
    const Moved moved = writeTo(file, bytes, size);
    if (moved.error != EAGAIN) return moved;
    while (!waitForFile(file, true, kWaitSlice)) {
      if (whileWaiting) whileWaiting();
    }
  }
}

std::string fileAction(std::string_view action, std::string_view role, const std::string& path) {
  std::string text(action);
  text += " the ";
  text += role;
  text += " file \"";
  text += shownText(path, TextForm::Utf8);
  text += '"';
  return text;
}

Failure openFailure(int number, const std::string& path, std::string_view words = {}) {
  return fileFailure(number, fileAction("Cannot open", "input", path), words);
}

Failure createFailure(int number, const std::string& path, std::string_view words = {}) {
  return fileFailure(number, fileAction("Cannot create", "output", path), words);
}

// Grows a buffer to `size` bytes, keeping what it holds.
void resize(ByteBuffer& buffer, std::size_t size) {
  char* const bytes = static_cast<char*>(std::realloc(buffer.get(), size));
  if (bytes == nullptr) throw std::bad_alloc();
  buffer.release();
  buffer.reset(bytes);
}

}  // namespace

TextForm textFormOf(Encoding encoding) {
  return isUtf16(encoding) ? TextForm::FromUtf16 : TextForm::Utf8;
}

ByteBuffer byteBuffer(std::size_t size) {
  char* const bytes = static_cast<char*>(std::malloc(size));
  if (bytes == nullptr) throw std::bad_alloc();
  return ByteBuffer(bytes);
}

void TextReader::fail(int number, std::string_view what) {
  m_failed = true;
  const std::string line = "Cannot read line " + std::to_string(m_linesRead + 1) + " of";
  throw fileFailure(number, fileAction(line, "input", m_path) + std::string(what)).endingRun();
}

void TextReader::open(const std::string& path) {
  m_path = path;
  take(openForReading(path), false);
}

void TextReader::adopt(FileHandle inherited, const std::string& name) {
  m_path = name;
  take(copyOf(inherited), true);
}

void TextReader::take(const Opened& opened, bool inherited) {
  if (opened.error != 0) throw openFailure(opened.error, m_path, opened.words);
  m_file = opened.file;
  const std::optional<FileInfo> info = infoOf(m_file);
  if (!info && inherited) {
    m_waitsForData = true;
    return;
  }
  if (!info) throw openFailure(EBADF, m_path);
  if (info->directory) throw openFailure(EISDIR, m_path);  // an inherited handle
  m_fileSize = info->size;
  m_waitsForData = !info->id.regular;
}

std::optional<FileId> TextReader::fileId() const {
  const std::optional<FileInfo> info = infoOf(m_file);
  return info ? std::optional(info->id) : std::nullopt;
}

void TextReader::start() {
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
  closeFile(m_file);
  m_file = kNoFile;
}

std::size_t TextReader::readRaw(char* into, std::size_t size) {
  // A pipe or a device is read only once it has something, so that the
  // front end stays alive while it waits; so it does after a read that
  // nothing came to.
  Moved moved;
  for (bool wait = m_waitsForData;; wait = true) {
    while (wait && !waitForFile(m_file, false, kWaitSlice)) {
      if (m_whileWaiting) m_whileWaiting();
    }
    moved = readFrom(m_file, into, size);
    if (moved.error != EAGAIN) break;
    if (m_whileWaiting) m_whileWaiting();
  }
  if (moved.error != 0) fail(moved.error, "");
  if (moved.count == 0) m_endOfFile = true;
  m_bytesRead += moved.count;
  return moved.count;
}

void TextReader::makeRoom(std::size_t bytes) {
  if (m_capacity - m_end >= bytes) return;
  if (m_beforeMove) m_beforeMove();
  // Keep what is not read yet, at the start.
  const std::size_t keep = m_end - m_begin;
  if (keep > 0) std::memmove(m_buffer.get(), m_buffer.get() + m_begin, keep);
  if (keep + bytes > m_capacity) {
    const std::size_t capacity = std::max(2 * m_capacity, keep + bytes);
    resize(m_buffer, capacity + PaddedText::kReadablePast);
    m_lineEnds = std::make_unique_for_overwrite<std::uint64_t[]>(capacity / kBlockSize + 1);
    m_capacity = capacity;
  }
  m_searched = m_searched >= m_begin ? m_searched - m_begin : 0;
  m_begin = m_lineStart = 0;
  m_lineSize = 0;
  m_end = keep;
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
        fail(EILSEQ, ", which ends in half a character");
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
  // The limit counts the input's own bytes, which for UTF-16 are not those
  // of the text decoded so far: counted once here, then read by read.
  std::uint64_t lineInput = inputSizeOf({m_buffer.get() + m_begin, m_end - m_begin});
  for (;;) {
    const std::size_t end = findLineEnd();
    if (end != kNotFound) return takeLine(end);
    if (m_endOfFile) {
      // The last line, without a line end.
      m_lineStart = m_begin;
      m_lineSize = m_end - m_begin;
      m_skipLineFeed = false;
      m_begin = m_end;
      ++m_linesRead;
      return line();
    }
    if (lineInput > kLongestLine) fail(EFBIG, ", which is longer than 256 MiB");
    const std::uint64_t before = m_bytesRead;
    fill();
    lineInput += m_bytesRead - before;
  }
}

std::uint64_t TextReader::inputSizeOf(std::string_view decoded) const {
  if (!isUtf16(m_encoding)) return decoded.size();
  // Two bytes for each character, four for one beyond the first plane.
  std::uint64_t size = 0;
  for (const char c : decoded) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) size += byte >= 0xF0 ? 4 : 2;
  }
  return size;
}

TextWriter::~TextWriter() {
  abandon();
}

void TextWriter::open(const std::string& path, const OutputDecision& decision) {
  m_path = path;
  for (;;) {
    const Opened opened = openOutput(path, decision);
    if (opened.error == EAGAIN) {
      // A named pipe without a reader yet.
      std::this_thread::sleep_for(kWaitSlice);
      if (m_whileWaiting) m_whileWaiting();
      continue;
    }
    if (opened.error != 0) throw createFailure(opened.error, path, opened.words);
    m_file = opened.file;
    break;
  }
  m_created = decision.action != OutputAction::WriteInPlace;
  if (m_created) markOutputUnfinished(m_path, m_file);
}

void TextWriter::adopt(FileHandle inherited, const std::string& name) {
  m_path = name;
  m_adopted = true;
  const Opened opened = copyOf(inherited);
  if (opened.error != 0) throw fileFailure(opened.error, writeAction());
  m_file = opened.file;
}

std::optional<FileId> TextWriter::fileId() const {
  const std::optional<FileInfo> info = infoOf(m_file);
  return info ? std::optional(info->id) : std::nullopt;
}

void TextWriter::start(Encoding encoding) {
  m_encoding = encoding;
  m_utf16 = isUtf16(encoding);
  m_pendingCapacity = kFlushSize + kSpareRoom;
  m_pending = byteBuffer(m_pendingCapacity);
  m_mayCutBack = !m_adopted && fileId().value_or(FileId{}).regular;
  if (m_created || !m_mayCutBack) return;
  if (const int number = truncateFile(m_file, 0); number != 0) throw createFailure(number, m_path);
}

std::string TextWriter::writeAction() const {
  return fileAction("Cannot write", "output", m_path);
}

void TextWriter::writeLineSlowly(std::initializer_list<std::string_view> parts) {
  // Whole pages: the next write then starts at a page of the file, which
  // the kernel copies into faster.
  if (!m_failure && m_pendingSize >= kFlushSize) flush(m_pendingSize / kPageSize * kPageSize);
  if (!m_firstLineTaken) {
    appendBytes(byteOrderMark(m_encoding));
    m_firstLineTaken = true;
    if (!m_utf16) m_copyBelow = kFlushSize;
  }
  if (m_utf16) {
    // No part of a line that has no UTF-16 form is taken.
    for (const std::string_view part : parts) {
      if (!isWellFormed(part, TextForm::FromUtf16)) throw fileFailure(EILSEQ, writeAction());
    }
    for (const std::string_view part : parts) appendUtf16(part);
    appendUtf16("\r\n");
    ++m_linesTaken;
    return;
  }
  std::size_t size = 2;
  for (const std::string_view part : parts) size += part.size();
  // A long line goes past the buffer instead of into it.
  if (size > kSpareRoom && !m_failure && flush(m_pendingSize)) {
    for (const std::string_view part : parts) writeThrough(part);
    writeThrough("\r\n");
    ++m_linesTaken;
    return;
  }
  if (m_pendingCapacity - m_pendingSize < size) grow(size);
  char* out = m_pending.get() + m_pendingSize;
  for (const std::string_view part : parts) out = std::copy(part.begin(), part.end(), out);
  out[0] = '\r';
  out[1] = '\n';
  m_pendingSize += size;
  ++m_linesTaken;
}

void TextWriter::writeThrough(std::string_view bytes) {
  while (!bytes.empty() && !m_failure) {
    const Moved moved = writeSome(bytes.data(), bytes.size());
    wrote(bytes.data(), moved.count);
    bytes.remove_prefix(moved.count);
    if (moved.error != 0) refuse(moved.error);
  }
  appendBytes(bytes);
}

Moved TextWriter::writeSome(const char* bytes, std::size_t size) {
  return whenWritable(m_file, m_whileWaiting, bytes, size);
}

void TextWriter::grow(std::size_t bytes) {
  const std::size_t capacity = std::max(2 * m_pendingCapacity, m_pendingSize + bytes);
  resize(m_pending, capacity);
  m_pendingCapacity = capacity;
}

void TextWriter::appendUtf16(std::string_view text) {
  const bool little = m_encoding == Encoding::Utf16LittleEndian;
  char units[kPageSize + 4];
  std::size_t size = 0;
  auto putUnit = [&](char32_t unit) {
    const char high = static_cast<char>(unit >> 8);
    const char low = static_cast<char>(unit & 0xFF);
    units[size++] = little ? low : high;
    units[size++] = little ? high : low;
  };
  // A page at a time, so that a long line is written as it is encoded.
  for (std::size_t offset = 0; offset < text.size();) {
    const Character c = characterAt(text, offset, TextForm::FromUtf16);
    if (c.code >= 0x10000) {
      putUnit(0xD800 + ((c.code - 0x10000) >> 10));
      putUnit(0xDC00 + ((c.code - 0x10000) & 0x3FF));
    } else {
      putUnit(c.code);
    }
    offset += c.size;
    if (size >= kPageSize || offset == text.size()) {
      if (!m_failure && m_pendingSize >= kFlushSize) flush(m_pendingSize / kPageSize * kPageSize);
      appendBytes({units, size});
      size = 0;
    }
  }
}

bool TextWriter::flush(std::size_t size) {
  std::size_t done = 0;
  int number = 0;
  while (done < size && number == 0) {
    const Moved moved = writeSome(m_pending.get() + done, size - done);
    done += moved.count;
    number = moved.error;
  }
  if (done > 0) {
    wrote(m_pending.get(), done);
    std::memmove(m_pending.get(), m_pending.get() + done, m_pendingSize - done);
    m_pendingSize -= done;
  }
  if (number == 0) return true;
  refuse(number);
  return false;
}

void TextWriter::wrote(const char* bytes, std::size_t count) {
  if (count == 0) return;
  if (const std::size_t end = afterLastLineEnd(bytes, count); end != 0) m_wholeLinesEnd = m_written + end;
  m_written += count;
  m_lastWritten = bytes[count - 1];
  if (m_heldAfterFailure > count) {
    m_heldAfterFailure -= count;
    return;
  }
  m_heldAfterFailure = 0;
  m_refusals = 0;
}

std::size_t TextWriter::afterLastLineEnd(const char* bytes, std::size_t count) const {
  if (!m_utf16) {
    for (std::size_t i = count; i > 0; --i) {
      if (bytes[i - 1] == '\n') return i;
    }
    return 0;
  }
  // A line feed is the unit 000A, which starts at an even offset of the
  // file; its first byte may be the last of an earlier write.
  const bool little = m_encoding == Encoding::Utf16LittleEndian;
  const auto byteAt = [&](std::ptrdiff_t i) { return i < 0 ? m_lastWritten : bytes[i]; };
  std::ptrdiff_t first = static_cast<std::ptrdiff_t>(count) - 2;
  if ((m_written + static_cast<std::uint64_t>(first)) % 2 != 0) ++first;
  for (; first >= -1; first -= 2) {
    if (first < 0 && m_written == 0) break;
    const char a = byteAt(first);
    const char b = byteAt(first + 1);
    if (little ? (a == '\n' && b == 0) : (a == 0 && b == '\n')) return static_cast<std::size_t>(first + 2);
  }
  return 0;
}

std::uint64_t TextWriter::lineEndsWaiting() const {
  const char* const bytes = m_pending.get();
  std::uint64_t ends = 0;
  if (!m_utf16) return static_cast<std::uint64_t>(std::count(bytes, bytes + m_pendingSize, '\n'));
  // Units that end in the buffer, the first perhaps begun in the file.
  const bool little = m_encoding == Encoding::Utf16LittleEndian;
  for (std::ptrdiff_t i = m_written % 2 == 0 ? 0 : -1; i + 1 < static_cast<std::ptrdiff_t>(m_pendingSize);
       i += 2) {
    const char a = i < 0 ? m_lastWritten : bytes[i];
    const char b = bytes[i + 1];
    if (little ? (a == '\n' && b == 0) : (a == 0 && b == '\n')) ++ends;
  }
  return ends;
}

void TextWriter::finishCutLine() noexcept {
  // Once, and without waiting: the output is being given up.
  const std::size_t end = afterFirstLineEnd();
  std::size_t done = 0;
  while (done < end) {
    const Moved moved = writeTo(m_file, m_pending.get() + done, end - done);
    if (moved.error != 0) break;
    wrote(m_pending.get() + done, moved.count);
    done += moved.count;
  }
  std::memmove(m_pending.get(), m_pending.get() + done, m_pendingSize - done);
  m_pendingSize -= done;
}

std::size_t TextWriter::afterFirstLineEnd() const {
  const char* const bytes = m_pending.get();
  if (!m_utf16) {
    const void* const end = std::memchr(bytes, '\n', m_pendingSize);
    return end == nullptr ? 0 : static_cast<std::size_t>(static_cast<const char*>(end) - bytes) + 1;
  }
  const bool little = m_encoding == Encoding::Utf16LittleEndian;
  for (std::ptrdiff_t i = m_written % 2 == 0 ? 0 : -1; i + 1 < static_cast<std::ptrdiff_t>(m_pendingSize);
       i += 2) {
    const char a = i < 0 ? m_lastWritten : bytes[i];
    if (little ? (a == '\n' && bytes[i + 1] == 0) : (a == 0 && bytes[i + 1] == '\n'))
      return static_cast<std::size_t>(i + 2);
  }
  return 0;
}

void TextWriter::refuse(int number) {
  ++m_refusals;
  Failure failure = fileFailure(number, writeAction());
  // Nothing can reach a closed pipe; and more waiting while what waited at an
  // earlier failure is not out yet would let memory grow with the output.
  if (number == EPIPE || (m_heldAfterFailure > 0 && m_pendingSize > kFlushSize + kSpareRoom)) {
    m_givenUp = true;
    throw failure.endingRun();
  }
  m_failure = std::move(failure);
}

Failure TextWriter::takeFailure() {
  Failure failure = std::move(*m_failure);
  m_failure.reset();
  m_heldAfterFailure = m_pendingSize;
  return failure;
}

void TextWriter::close() {
  if (m_file == kNoFile) return;
  m_failure.reset();  // this attempt is the one that counts
  if (!flush(m_pendingSize)) throw takeFailure();
  // Finished before its handle goes, which an interrupt would still use.
  if (m_created) markOutputFinished();
  const int number = closeFile(m_file);
  m_file = kNoFile;
  if (number != 0) throw fileFailure(number, writeAction());
}

TextWriter::Left TextWriter::abandon() noexcept {
  if (m_file != kNoFile && m_written != m_wholeLinesEnd) finishCutLine();
  Left left{m_linesTaken - lineEndsWaiting(), m_written != m_wholeLinesEnd};
  if (left.cutLine && m_file != kNoFile && m_mayCutBack && truncateFile(m_file, m_wholeLinesEnd) == 0)
    left.cutLine = false;
  if (m_created) markOutputFinished();
  closeFile(m_file);
  m_file = kNoFile;
  m_pendingSize = 0;
  m_linesTaken = left.lines;
  return left;
}

void TextWriter::removeUnfinished() noexcept {
  if (!m_created || m_file == kNoFile) {
    abandon();
    return;
  }
  removeUnfinishedOutput(m_file);
  m_file = kNoFile;
  m_pendingSize = 0;
}

}  // namespace tavrin
