#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace tavrin {

// The encoding of an input file, which its output file takes over. Without a
// byte order mark a file is UTF-8; inside the program all text is UTF-8.
enum class Encoding { Utf8, Utf8WithBom, Utf16LittleEndian, Utf16BigEndian };

// Reads a text file line by line, streaming: memory grows with the longest
// line, not with the file. A carriage return with a line feed, a lone line feed
// and a lone carriage return each end a line; the last line needs none.
class TextReader {
 public:
  TextReader() = default;
  TextReader(const TextReader&) = delete;
  TextReader& operator=(const TextReader&) = delete;
  ~TextReader() { close(); }

  // Opens the file for reading and reads its byte order mark, if any.
  void open(const std::string& path);
  // Whether no further line is there. After a failed read it is true, so a
  // broken file ends the run instead of failing for ever.
  bool atEnd();
  // Reads the next line, without its line end. The view, like line(), stays
  // valid until the next call of AtEnd or ReadLine.
  std::string_view readLine();
  std::string_view line() const { return {m_buffer.get() + m_lineStart, m_lineSize}; }
  void close() noexcept;

  Encoding getEncoding() const { return m_encoding; }
  std::uint64_t bytesRead() const { return m_bytesRead; }
  // The file's size, or 0 when it has none (a pipe, a device).
  std::uint64_t fileSize() const { return m_fileSize; }

 private:
  // Reads and decodes more of the file, or notes its end.
  void fill();
  void makeRoom(std::size_t bytes);
  std::size_t readRaw(char* into, std::size_t size);
  void decodeUtf16(bool atEnd);
  std::size_t findLineEnd();
  [[noreturn]] void fail(int number, std::string_view what);

  int m_fd = -1;
  std::string m_path;
  Encoding m_encoding = Encoding::Utf8;
  std::uint64_t m_bytesRead = 0;
  std::uint64_t m_fileSize = 0;
  bool m_endOfFile = false;
  bool m_failed = false;

  // Decoded text: [m_lineStart, m_lineStart + m_lineSize) is the current
  // line, [m_begin, m_end) the text not yet read.
  std::unique_ptr<char[]> m_buffer;
  std::size_t m_capacity = 0;
  std::size_t m_lineStart = 0;
  std::size_t m_lineSize = 0;
  std::size_t m_begin = 0;
  std::size_t m_end = 0;
  bool m_skipLineFeed = false;  // the last line ended with a carriage return
  // The line ends of the block scanned last: bit i stands for byte
  // m_scanStart + i, up to m_scanEnd. No line end stands between m_begin and
  // m_scanStart, so a long line is scanned once.
  std::uint64_t m_lineEnds = 0;
  std::size_t m_scanStart = 0;
  std::size_t m_scanEnd = 0;

  // UTF-16 bytes read but not yet decoded (an odd byte, half a surrogate pair).
  std::string m_raw;
};

// Writes a text file line by line; every line ends with a carriage return and
// a line feed. The byte order mark of the encoding goes before the first line,
// so a file without lines stays empty.
class TextWriter {
 public:
  TextWriter() = default;
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;
  ~TextWriter();

  // Creates the file, or empties one that is there.
  void create(const std::string& path, Encoding encoding);
  // Writes the parts as one line. When a write fails, the lines waiting to be
  // written are dropped and this one is not written either.
  void writeLine(std::initializer_list<std::string_view> parts);
  // Writes what is waiting and closes the file, which is closed even when that fails.
  void close();

 private:
  void flush();
  void appendUtf16(std::string_view text);
  void appendBytes(std::string_view bytes) {
    if (bytes.empty()) return;  // an empty view may hold no address for memcpy
    if (m_pending.size() - m_pendingSize < bytes.size()) grow(bytes.size());
    std::memcpy(m_pending.data() + m_pendingSize, bytes.data(), bytes.size());
    m_pendingSize += bytes.size();
  }
  void grow(std::size_t bytes);

  int m_fd = -1;
  std::string m_path;
  Encoding m_encoding = Encoding::Utf8;
  bool m_utf16 = false;
  std::string m_pending;  // [0, m_pendingSize) waits to be written
  std::size_t m_pendingSize = 0;
  std::uint64_t m_bytesWritten = 0;
};

}  // namespace tavrin
