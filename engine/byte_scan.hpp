#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tavrin {

// Classifies text 64 bytes at a time into bit masks, bit i standing for byte i
// of the block, with the widest vector instructions the processor has. The
// reader finds line ends and the tokenizer finds separators this way, so the
// work per byte is a few instructions for a whole block and the work per line
// or token is a visit of one bit.

inline constexpr std::size_t kBlockSize = 64;

enum class VectorPath { Portable, Sse2, Avx2 };

// The path chosen at start: the best the processor runs, or a lesser one that
// the environment variable TAVRIN_VECTOR_PATH (portable, sse2 or avx2) asks for.
VectorPath vectorPath();
std::string_view vectorPathName(VectorPath path);

struct BlockScanner {
  // Bytes of the block equal to `first` or `second`.
  std::uint64_t (*eitherOf)(const char* block, char first, char second);
  // Bytes of the block equal to `separator` outside quotes. `inside` is all
  // ones when the block begins inside a quote, 0 otherwise, and is left so for
  // the next block; a quote character opens or closes a quote.
  std::uint64_t (*separatorsOutsideQuotes)(const char* block, char separator, char quote,
                                           std::uint64_t& inside);
  // Bytes of the block equal to each of four bytes.
  void (*eachOfFour)(const char* block, const char (&bytes)[4], std::uint64_t (&masks)[4]);
};

const BlockScanner& blockScanner();

// Bits of the bytes of a text of at most 16 bytes equal to `first` and to
// `second`, without a copy: eight bytes at a time in a 64-bit word.
inline constexpr std::size_t kShortText = 16;
void shortTextMasks(std::string_view text, char first, char second, std::uint64_t& firstMask,
                    std::uint64_t& secondMask);

// Copies the last, short block of a text into `block`, filled up with a byte
// that is none of `sought`, so a scanner may read all 64 bytes.
void padBlock(std::string_view tail, std::string_view sought, char (&block)[kBlockSize]);

}  // namespace tavrin
