#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace tavrin {

// Classifies text 64 bytes at a time into bit masks, bit i standing for byte i
// of the block, with the widest vector instructions the processor has:
// AVX-512, AVX2 or SSE2, or eight bytes at a time in a 64-bit word. The
// reader finds line ends and the tokenizer finds separators this way, so the
// work per byte is a few instructions for a whole block and the work per line
// or token is a visit of one bit.

inline constexpr std::size_t kBlockSize = 64;

enum class VectorPath { Portable, Sse2, Avx2, Avx512 };

// The path chosen once, on first use: the best the processor runs, or a lesser
// one that the environment variable TAVRIN_VECTOR_PATH (portable, sse2 or
// avx2) asks for.
VectorPath vectorPath();
std::string_view vectorPathName(VectorPath path);

struct ClassifiedBlock {
  std::uint64_t equal[8];  // bytes equal to each of the eight asked for
};

struct BlockScanner {
  // Marks the carriage returns and line feeds of `blocks` whole blocks of
  // `text`: bit i of lineEnds[w] for byte 64 w + i.
  void (*markLineEnds)(const char* text, std::size_t blocks, std::uint64_t* lineEnds);
  // The token ends of a line of at least 64 bytes: bit i of ends[w] for byte
  // 64 w + i when it is a `separator` outside quotes, in as many words as the
  // line has blocks, the last one perhaps partial. A quote character opens or
  // closes a quote. Gives whether a quote stays open at the line's end.
  bool (*markSeparators)(const char* line, std::size_t size, char separator, char quote, std::uint64_t* ends);
  // Bytes of a text of at most 64 bytes equal to each of four bytes. Nothing
  // past the text is read, so it needs no copy into a block.
  void (*eachOfFour)(const char* text, std::size_t size, const char (&bytes)[4], std::uint64_t (&masks)[4]);
  // Copies a text of at most 64 bytes to the start of the 64 bytes of
  // `block`, which may hold anything after it, and marks its bytes equal to
  // each of eight bytes.
  void (*copyAndClassify)(const char* text, std::size_t size, const char (&bytes)[8], char* block,
                          ClassifiedBlock& classified);
};

// The scanner of a path; the program's own is that of vectorPath().
BlockScanner scannerFor(VectorPath path);
inline const BlockScanner& blockScanner() {
  static const BlockScanner scanner = scannerFor(vectorPath());
  return scanner;
}

// Any machine: eight bytes at a time in a 64-bit word.

inline std::uint64_t loadLittleEndian(const char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// Bytes of `word` equal to `byte` get their high bit set, and no others.
inline std::uint64_t matchingBytes(std::uint64_t word, char byte) {
  constexpr std::uint64_t kLowBits = 0x7F7F7F7F7F7F7F7F;
  const std::uint64_t x = word ^ (0x0101010101010101 * static_cast<unsigned char>(byte));
  return ~(((x & kLowBits) + kLowBits) | x | kLowBits);
}

// The high bits of the eight bytes as eight bits. The products land on
// distinct bits, so no carry disturbs the top byte.
inline std::uint64_t highBits(std::uint64_t matches) {
  return (matches * 0x0002040810204081) >> 56;
}

// Bit i becomes the parity of bits 0 to i: of a quote mask, set inside a
// quote, from its opening quote up to the byte before its closing one.
inline std::uint64_t prefixParity(std::uint64_t x) {
  for (int shift = 1; shift < 64; shift *= 2) x ^= x << shift;
  return x;
}

// The bytes of a word of ASCII bytes (high bits clear) with A to Z
// lower-cased: no sum carries into the next byte.
inline std::uint64_t lowerAsciiBytes(std::uint64_t word) {
  constexpr std::uint64_t kOnes = 0x0101010101010101;
  const std::uint64_t fromA = word + kOnes * (0x80 - 'A');        // high bit set from 'A' on
  const std::uint64_t beyondZ = word + kOnes * (0x80 - 'Z' - 1);  // high bit set beyond 'Z'
  return word | (fromA & ~beyondZ & kOnes * 0x80) >> 2;
}

// Up to eight bytes as a word, the first in the lowest bits, reading none
// past the text: two loads that may overlap, which is harmless for a mask.
inline std::uint64_t loadUpTo8(const char* bytes, std::size_t size) {
  if (size >= 8) return loadLittleEndian(bytes);
  if (size >= 4) {
    std::uint32_t low;
    std::uint32_t high;
    std::memcpy(&low, bytes, 4);
    std::memcpy(&high, bytes + size - 4, 4);
    if constexpr (std::endian::native == std::endian::big) {
      low = __builtin_bswap32(low);
      high = __builtin_bswap32(high);
    }
    return low | static_cast<std::uint64_t>(high) << (8 * (size - 4));
  }
  const auto byte = [bytes](std::size_t i) {
    return static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i]));
  };
  return size == 0 ? 0 : byte(0) | byte(size / 2) << (8 * (size / 2)) | byte(size - 1) << (8 * (size - 1));
}

// Bits of the bytes of a text of at most 16 bytes equal to `first` and to
// `second`, without a copy: eight bytes at a time in a 64-bit word.
inline constexpr std::size_t kShortText = 16;
inline void shortTextMasks(std::string_view text, char first, char second, std::uint64_t& firstMask,
                           std::uint64_t& secondMask) {
  const std::size_t size = text.size();
  const std::uint64_t low = loadUpTo8(text.data(), std::min<std::size_t>(size, 8));
  firstMask = highBits(matchingBytes(low, first));
  secondMask = highBits(matchingBytes(low, second));
  if (size > 8) {
    const std::size_t at = size - 8;
    const std::uint64_t high = loadLittleEndian(text.data() + at);
    firstMask |= highBits(matchingBytes(high, first)) << at;
    secondMask |= highBits(matchingBytes(high, second)) << at;
  }
  const std::uint64_t inText = (std::uint64_t{1} << size) - 1;  // a missing byte reads as 0
  firstMask &= inText;
  secondMask &= inText;
}

}  // namespace tavrin
