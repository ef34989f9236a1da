#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "engine/byte_scan.hpp"
#include "engine/failure.hpp"
#include "engine/platform.hpp"
#include "engine/text.hpp"

namespace tavrin {

// The encoding of an input file, which its output file takes over. Without a
// byte order mark a file is UTF-8; inside the program all text is UTF-8, but
// for the lone surrogates that a UTF-16 file may hold (see TextForm).
enum class Encoding { Utf8, Utf8WithBom, Utf16LittleEndian, Utf16BigEndian };
// The form of the text that the reader makes of a file in `encoding`.
TextForm textFormOf(Encoding encoding);

// A page of a file in the system's cache.
inline constexpr std::size_t kPageSize = 4096;

// A buffer from the C library's heap, which starts wherever the heap puts it
// (one that starts on a page is read into and written from no faster).
// Growing it keeps its bytes; on Linux the pages of a large one are moved,
// not copied.
struct FreeBytes {
  void operator()(char* bytes) const { std::free(bytes); }
};
using ByteBuffer = std::unique_ptr<char[], FreeBytes>;
ByteBuffer byteBuffer(std::size_t size);

// Called again and again while a pipe or a device keeps the program waiting,
// so that a front end may stay alive; it may raise a failure to give up.
using WhileWaiting = std::function<void()>;

// A line that TextReader has read, or a part of one. The reader keeps
// kReadablePast bytes readable past every line, whatever they hold, so a part
// of at most a block can be copied with one whole-block move. Only the reader
// makes one; a part is made from the text it lies in.
class PaddedText {
 public:
  static constexpr std::size_t kReadablePast = kBlockSize;

  std::string_view text() const { return m_text; }
  // `part`, which must lie within this text.
  PaddedText within(std::string_view part) const { return PaddedText(part); }
  PaddedText trimmed() const { return PaddedText(trim(m_text)); }

 private:
  friend class TextReader;
  explicit PaddedText(std::string_view text) : m_text(text) {}
  std::string_view m_text;
};

// Reads a text file line by line, streaming: memory grows with the longest
// line, not with the file. A carriage return with a line feed, a lone line feed
// and a lone carriage return each end a line; the last line needs none.
// A failure to read ends the run: no answer can cure it.
class TextReader {
 public:
  TextReader() = default;
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;
  ~TextReader() { close(); }

  // Opens the file for reading, without reading anything yet.
  void open(const std::string& path);
  // Reads from a copy of a handle that the program inherited (standard
  // input); `name` stands for it in messages. One whose kind cannot be told
  // (under Wine, a file that a POSIX shell redirected) is read as a stream.
  void adopt(FileHandle inherited, const std::string& name);
  // Reads the start of the file and its byte order mark, if any.
  void start();
  // Whether no further line is there. After a failed read it is true, so a
  // broken file ends the run instead of failing for ever.
  bool atEnd() {
    if (m_failed) return true;
    // The usual case, a line waiting in the buffer, without a call.
    if (m_skipLineFeed && m_begin < m_end) {
      if (m_buffer[m_begin] == '\n') ++m_begin;
      m_skipLineFeed = false;
    }
    return m_begin >= m_end && atEndOfBuffer();
  }
  // Reads the next line, without its line end. The view, like line(), stays
  // valid until the next call of atEnd or readLine.
  std::string_view readLine() {
    // The usual case, a line whose end is marked, without a call.
    if (!atEnd()) {
      const std::size_t end = findMarkedLineEnd(m_begin);
      if (end != kNotFound) return takeLine(end);
    }
    return scanForLine();
  }
  std::string_view line() const { return {m_buffer.get() + m_lineStart, m_lineSize}; }
  PaddedText paddedLine() const { return PaddedText(line()); }
  void close() noexcept;
  // Called before the reader moves or drops text that it has read: views of
  // earlier lines stay valid until then, and a holder of one copies it here.
  void setBeforeMove(std::function<void()> beforeMove) { m_beforeMove = std::move(beforeMove); }
  void setWhileWaiting(WhileWaiting whileWaiting) { m_whileWaiting = std::move(whileWaiting); }

  Encoding getEncoding() const { return m_encoding; }
  std::optional<FileId> fileId() const;
  std::uint64_t bytesRead() const { return m_bytesRead; }
  // The file's size, or 0 when it has none (a pipe, a device).
  std::uint64_t fileSize() const { return m_fileSize; }

 private:
  void take(const Opened& opened, bool inherited);
  bool atEndOfBuffer();
  // Reads and decodes more of the file, or notes its end.
  void fill();
  void makeRoom(std::size_t bytes);
  // Marks the line ends of the whole blocks read since the last call.
  void markLineEnds();
  std::size_t readRaw(char* into, std::size_t size);
  void decodeUtf16(bool atEnd);
  // The first line end at or after `from` among the marked bytes.
  std::size_t findMarkedLineEnd(std::size_t from) const {
    if (from >= m_marked) return kNotFound;
    std::size_t word = from / kBlockSize;
    std::uint64_t ends = m_lineEnds[word] & ~std::uint64_t{0} << (from % kBlockSize);
    const std::size_t words = m_marked / kBlockSize;
    while (ends == 0 && ++word < words) ends = m_lineEnds[word];
    return ends == 0 ? kNotFound : word * kBlockSize + static_cast<std::size_t>(std::countr_zero(ends));
  }
  std::size_t findLineEnd();
  std::string_view scanForLine();
  // How many bytes of the input decoded to `decoded`.
  std::uint64_t inputSizeOf(std::string_view decoded) const;
  // The line from m_begin up to the line end at `end`.
  std::string_view takeLine(std::size_t end) {
    m_lineStart = m_begin;
    m_lineSize = end - m_begin;
    m_skipLineFeed = m_buffer[end] == '\r';
    m_begin = end + 1;
    ++m_linesRead;
    return line();
  }
  // A failure to read the line after the last one read.
  [[noreturn]] void fail(int number, std::string_view what);

  FileHandle m_file = kNoFile;
  std::string m_path;
  Encoding m_encoding = Encoding::Utf8;
  std::uint64_t m_bytesRead = 0;
  std::uint64_t m_fileSize = 0;
  bool m_waitsForData = false;  // a pipe or a device, which may keep a read waiting
  bool m_endOfFile = false;
  bool m_failed = false;
  std::uint64_t m_linesRead = 0;

  // Decoded text: [m_lineStart, m_lineStart + m_lineSize) is the current
  // line, [m_begin, m_end) the text not yet read.
  ByteBuffer m_buffer;
  std::size_t m_capacity = 0;
  std::size_t m_lineStart = 0;
  std::size_t m_lineSize = 0;
  std::size_t m_begin = 0;
  std::size_t m_end = 0;
  bool m_skipLineFeed = false;  // the last line ended with a carriage return
  // The line ends of the buffer, found a whole read at a time: bit i of word w
  // stands for byte 64 w + i, for the bytes up to m_marked (whole blocks).
  std::unique_ptr<std::uint64_t[]> m_lineEnds;
  std::size_t m_marked = 0;
  // No line end stands between m_begin and here, so a long line is searched once.
  std::size_t m_searched = 0;

  // UTF-16 bytes read but not yet decoded (an odd byte, half a surrogate pair).
  std::string m_raw;

  std::function<void()> m_beforeMove;
  WhileWaiting m_whileWaiting;
};

// Room for one line of kSize bytes with its line end, written in place. Past
// the line's own bytes it may be written over, so parts of the line can be
// put in a whole block at a time. Only TextWriter hands one out, in its
// buffer, and a LineStore, in itself.
class LineRoom {
 public:
  static constexpr std::size_t kSize = 256;
  char* begin() const { return m_begin; }

 private:
  friend class TextWriter;
  friend class LineStore;
  explicit LineRoom(char* begin) : m_begin(begin) {}
  char* m_begin;
};

// A line's room of the caller's own, for when the writer has none in place.
class LineStore {
 public:
  LineRoom room() { return LineRoom(m_bytes); }
  std::string_view line(std::size_t size) const { return {m_bytes, size}; }

 private:
  char m_bytes[LineRoom::kSize] = {};
};

// Writes a text file line by line; every line ends with a carriage return and
// a line feed. The byte order mark of the encoding goes before the first line,
// so a file without lines stays empty.
//
// Nothing accepted is ever dropped. A line is taken into the buffer before
// anything is written, so a write that fails is no failure of the line: its
// bytes wait, writes are held until the caller has taken the failure
// (takeFailure), and the next write sends them first. The file is at all
// times a gap-free start of the whole output, and the whole output once
// writes succeed again. While writes fail the buffer takes the lines of one
// more input line beyond its usual megabyte; past that, and for a closed
// pipe, the failure ends the run.
class TextWriter {
 public:
  TextWriter() = default;
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;
  ~TextWriter();

  // Opens the output as decided (see openOutput), waiting while a named pipe
  // has no reader yet.
  void open(const std::string& path, const OutputDecision& decision);
  // Writes to a copy of a handle that the program inherited (standard
  // output), as it stands: appending redirections keep what was there.
  void adopt(FileHandle inherited, const std::string& name);
  std::optional<FileId> fileId() const;
  // Empties a regular file that was kept (never an inherited one), and takes
  // the encoding of the lines to come.
  void start(Encoding encoding);
  void setWhileWaiting(WhileWaiting whileWaiting) { m_whileWaiting = std::move(whileWaiting); }

  // Takes the parts (texts) as one line. A line that has no form in the
  // output's encoding raises a failure, and so does a run-ending refusal.
  template <typename... Parts>
  void writeLine(const Parts&... parts) {
    const std::string_view texts[] = {parts...};
    // The usual line, UTF-8 into a buffer with room, is copied here without a call.
    std::size_t size = 2;
    for (const std::string_view text : texts) size += text.size();
    if (m_pendingSize >= m_copyBelow || size > kSpareRoom) {
      writeLineSlowly({parts...});
      return;
    }
    char* out = m_pending.get() + m_pendingSize;
    for (const std::string_view text : texts) out = copyShort(out, text);
    std::memcpy(out, "\r\n", 2);
    m_pendingSize += size;
    ++m_linesTaken;
  }
  // Whether a line may be written in place: not while lines have to go
  // through writeLine (before the first, for UTF-16, or when full).
  bool hasLineRoom() const { return m_pendingSize < m_copyBelow; }
  // Room for a line, when hasLineRoom(), then ended with endLine.
  LineRoom lineRoom() { return LineRoom(m_pending.get() + m_pendingSize); }
  // Ends the line of `size` bytes written in `room`, the last lineRoom().
  void endLine(LineRoom room, std::size_t size) {
    char* const end = room.begin() + size;
    std::memcpy(end, "\r\n", 2);
    m_pendingSize = static_cast<std::size_t>(end - m_pending.get()) + 2;
    ++m_linesTaken;
  }

  // Whether a write has failed since the failure was last taken.
  bool hasFailure() const { return m_failure.has_value(); }
  // That failure, once; writes go on with the next line.
  Failure takeFailure();
  // Failed writes in a row, with nothing written in between.
  int refusalsInARow() const { return m_refusals; }

  bool isOpen() const { return m_file != kNoFile; }
  // Whether the output refused data in a way that no answer can cure (a
  // closed pipe, or more waiting than memory may hold): only abandon() is left.
  bool isGivenUp() const { return m_givenUp; }
  // The lines taken so far, which the file holds once it is closed.
  std::uint64_t linesTaken() const { return m_linesTaken; }

  // Writes what is waiting and closes the file. When that fails the file stays
  // open, so the caller may try again or give up with abandon().
  void close();
  // What an abandoned output holds: its whole lines, and whether a cut one
  // follows them that could not be cut off (a pipe, a device).
  struct Left {
    std::uint64_t lines = 0;
    bool cutLine = false;
  };
  // Closes the file, dropping what could not be written, and cuts a file
  // back to its last whole line: no cut line may pass for data.
  Left abandon() noexcept;
  // Closes the file and removes it, when the run created it: a run that was
  // stopped leaves no output that looks finished.
  void removeUnfinished() noexcept;

 private:
  static constexpr std::size_t kFlushSize = std::size_t{1} << 20;
  // Room that the buffer has beyond kFlushSize: a line up to this long fits.
  static constexpr std::size_t kSpareRoom = std::size_t{1} << 16;
  static_assert(LineRoom::kSize <= kSpareRoom);

  // Copies a text of a few dozen bytes with a few loads and stores that may
  // overlap, and a longer one with memcpy.
  static char* copyShort(char* out, std::string_view text) {
    const char* in = text.data();
    const std::size_t size = text.size();
    if (size > 64) {
      std::memcpy(out, in, size);
    } else if (size > 32) {
      std::memcpy(out, in, 32);
      std::memcpy(out + size - 32, in + size - 32, 32);
    } else if (size >= 16) {
      std::memcpy(out, in, 16);
      std::memcpy(out + size - 16, in + size - 16, 16);
    } else if (size >= 8) {
      std::memcpy(out, in, 8);
      std::memcpy(out + size - 8, in + size - 8, 8);
    } else if (size >= 4) {
      std::memcpy(out, in, 4);
      std::memcpy(out + size - 4, in + size - 4, 4);
    } else if (size > 0) {
      out[0] = in[0];
      out[size / 2] = in[size / 2];
      out[size - 1] = in[size - 1];
    }
    return out + size;
  }

  void writeLineSlowly(std::initializer_list<std::string_view> parts);
  // Writes the first `size` waiting bytes; the rest wait on. False when a
  // write failed, which is then kept for takeFailure.
  bool flush(std::size_t size);
  // Writes `bytes` past the buffer, which must be empty; what a failed
  // write leaves goes into the buffer.
  void writeThrough(std::string_view bytes);
  // Writes at most `size` bytes, waiting while a pipe cannot take them.
  Moved writeSome(const char* bytes, std::size_t size);
  void refuse(int number);
  // Notes `count` bytes from `bytes` on as written.
  void wrote(const char* bytes, std::size_t count);
  // Where the last line end in `bytes`, which go to the file next, ends; 0 for none.
  std::size_t afterLastLineEnd(const char* bytes, std::size_t count) const;
  // The line ends that wait in the buffer.
  std::uint64_t lineEndsWaiting() const;
  // Where the first line end that waits in the buffer ends; 0 for none.
  std::size_t afterFirstLineEnd() const;
  // Writes the rest of a line that the file holds only a part of, if it can.
  void finishCutLine() noexcept;
  void appendUtf16(std::string_view text);
  void appendBytes(std::string_view bytes) {
    if (bytes.empty()) return;  // an empty view may hold no address for memcpy
    if (m_pendingCapacity - m_pendingSize < bytes.size()) grow(bytes.size());
    std::memcpy(m_pending.get() + m_pendingSize, bytes.data(), bytes.size());
    m_pendingSize += bytes.size();
  }
  void grow(std::size_t bytes);
  std::string writeAction() const;

  FileHandle m_file = kNoFile;
  std::string m_path;
  bool m_created = false;  // by this run, under a name that was free
  bool m_adopted = false;
  Encoding m_encoding = Encoding::Utf8;
  bool m_utf16 = false;
  bool m_firstLineTaken = false;
  ByteBuffer m_pending;  // [0, m_pendingSize) waits to be written
  std::size_t m_pendingCapacity = 0;
  std::size_t m_pendingSize = 0;
  // writeLine copies in place while m_pendingSize is below this: 0 until the
  // byte order mark is written, and for UTF-16; kFlushSize after that.
  std::size_t m_copyBelow = 0;
  std::optional<Failure> m_failure;  // not yet taken; writes are held meanwhile
  // Of what waited when a failure was taken, the bytes not yet written: while
  // any are left, a further refusal counts as one in a row, and one with more
  // waiting than the buffer's usual size ends the run, so that memory does not
  // grow with the output.
  std::size_t m_heldAfterFailure = 0;
  int m_refusals = 0;
  bool m_givenUp = false;
  bool m_mayCutBack = false;  // a regular file that this run started, not an inherited one
  std::uint64_t m_linesTaken = 0;
  std::uint64_t m_written = 0;        // bytes that the file took from this writer
  std::uint64_t m_wholeLinesEnd = 0;  // and where the last whole line among them ends
  char m_lastWritten = 0;             // the last of them, half a UTF-16 line end maybe
  WhileWaiting m_whileWaiting;
};

}  // namespace tavrin
