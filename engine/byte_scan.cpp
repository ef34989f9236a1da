#include "engine/byte_scan.hpp"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace tavrin {

namespace {

// Any machine: eight bytes at a time in a 64-bit word.

std::uint64_t loadLittleEndian(const char* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// Bytes of `word` equal to `byte` get their high bit set, and no others.
std::uint64_t matchingBytes(std::uint64_t word, char byte) {
  constexpr std::uint64_t kLowBits = 0x7F7F7F7F7F7F7F7F;
  const std::uint64_t x = word ^ (0x0101010101010101 * static_cast<unsigned char>(byte));
  return ~(((x & kLowBits) + kLowBits) | x | kLowBits);
}

// The high bits of the eight bytes as eight bits. The products land on
// distinct bits, so no carry disturbs the top byte.
std::uint64_t highBits(std::uint64_t matches) {
  return (matches * 0x0002040810204081) >> 56;
}

std::uint64_t portableMask(const char* block, char byte) {
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < kBlockSize; i += 8) {
    mask |= highBits(matchingBytes(loadLittleEndian(block + i), byte)) << i;
  }
  return mask;
}

// Bit i becomes the parity of bits 0 to i: set inside a quote, from its
// opening quote up to the byte before its closing one.
std::uint64_t prefixParity(std::uint64_t x) {
  for (int shift = 1; shift < 64; shift *= 2) x ^= x << shift;
  return x;
}

std::uint64_t outsideQuotes(std::uint64_t separators, std::uint64_t quotes, std::uint64_t& inside,
                            std::uint64_t (*parity)(std::uint64_t)) {
  if (quotes == 0) return separators & ~inside;
  const std::uint64_t quoted = parity(quotes) ^ inside;
  inside = static_cast<std::uint64_t>(static_cast<std::int64_t>(quoted) >> 63);
  return separators & ~quoted;
}

std::uint64_t portableEitherOf(const char* block, char first, char second) {
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < kBlockSize; i += 8) {
    const std::uint64_t word = loadLittleEndian(block + i);
    mask |= highBits(matchingBytes(word, first) | matchingBytes(word, second)) << i;
  }
  return mask;
}

void portableEachOfFour(const char* block, const char (&bytes)[4], std::uint64_t (&masks)[4]) {
  for (int i = 0; i < 4; ++i) masks[i] = portableMask(block, bytes[i]);
}

std::uint64_t portableSeparators(const char* block, char separator, char quote, std::uint64_t& inside) {
  return outsideQuotes(portableMask(block, separator), portableMask(block, quote), inside, prefixParity);
}

#if defined(__x86_64__)

__attribute__((target("sse2"))) std::uint64_t sse2Mask(const char* block, char byte) {
  const __m128i wanted = _mm_set1_epi8(byte);
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < kBlockSize; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
    mask |= static_cast<std::uint64_t>(
                static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted))))
            << i;
  }
  return mask;
}

__attribute__((target("sse2"))) std::uint64_t sse2EitherOf(const char* block, char first, char second) {
  return sse2Mask(block, first) | sse2Mask(block, second);
}

__attribute__((target("sse2"))) std::uint64_t sse2Separators(const char* block, char separator, char quote,
                                                             std::uint64_t& inside) {
  return outsideQuotes(sse2Mask(block, separator), sse2Mask(block, quote), inside, prefixParity);
}

__attribute__((target("sse2"))) void sse2EachOfFour(const char* block, const char (&bytes)[4],
                                                    std::uint64_t (&masks)[4]) {
  for (int i = 0; i < 4; ++i) masks[i] = sse2Mask(block, bytes[i]);
}

__attribute__((target("avx2"))) std::uint64_t avx2Mask(const char* block, char byte) {
  const __m256i wanted = _mm256_set1_epi8(byte);
  const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
  const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32));
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, wanted))) |
         static_cast<std::uint64_t>(
             static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, wanted))))
             << 32;
}

__attribute__((target("avx2"))) std::uint64_t avx2EitherOf(const char* block, char first, char second) {
  return avx2Mask(block, first) | avx2Mask(block, second);
}

__attribute__((target("avx2"))) void avx2EachOfFour(const char* block, const char (&bytes)[4],
                                                    std::uint64_t (&masks)[4]) {
  const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
  const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 32));
  for (int i = 0; i < 4; ++i) {
    const __m256i wanted = _mm256_set1_epi8(bytes[i]);
    masks[i] = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, wanted))) |
               static_cast<std::uint64_t>(
                   static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, wanted))))
                   << 32;
  }
}

// A carry-less multiplication by all ones is the running parity in one instruction.
__attribute__((target("pclmul"))) std::uint64_t carryLessParity(std::uint64_t x) {
  const __m128i product =
      _mm_clmulepi64_si128(_mm_set_epi64x(0, static_cast<long long>(x)), _mm_set1_epi8(-1), 0);
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

__attribute__((target("avx2,pclmul"))) std::uint64_t avx2Separators(const char* block, char separator,
                                                                    char quote, std::uint64_t& inside) {
  const std::uint64_t quotes = avx2Mask(block, quote);
  const std::uint64_t separators = avx2Mask(block, separator);
  if (quotes == 0) return separators & ~inside;
  const std::uint64_t quoted = carryLessParity(quotes) ^ inside;
  inside = static_cast<std::uint64_t>(static_cast<std::int64_t>(quoted) >> 63);
  return separators & ~quoted;
}

#endif

VectorPath bestPath() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("pclmul")) return VectorPath::Avx2;
  return VectorPath::Sse2;  // every x86-64 processor has it
#else
  return VectorPath::Portable;
#endif
}

VectorPath choosePath() {
  VectorPath path = bestPath();
  if (const char* asked = std::getenv("TAVRIN_VECTOR_PATH")) {
    for (const VectorPath lesser : {VectorPath::Portable, VectorPath::Sse2}) {
      if (vectorPathName(lesser) == asked && lesser < path) path = lesser;
    }
  }
  return path;
}

BlockScanner scannerFor(VectorPath path) {
  switch (path) {
#if defined(__x86_64__)
    case VectorPath::Avx2:
      return {avx2EitherOf, avx2Separators, avx2EachOfFour};
    case VectorPath::Sse2:
      return {sse2EitherOf, sse2Separators, sse2EachOfFour};
#endif
    default:
      return {portableEitherOf, portableSeparators, portableEachOfFour};
  }
}

}  // namespace

VectorPath vectorPath() {
  static const VectorPath path = choosePath();
  return path;
}

std::string_view vectorPathName(VectorPath path) {
  switch (path) {
    case VectorPath::Avx2:
      return "avx2";
    case VectorPath::Sse2:
      return "sse2";
    case VectorPath::Portable:
      break;
  }
  return "portable";
}

const BlockScanner& blockScanner() {
  static const BlockScanner scanner = scannerFor(vectorPath());
  return scanner;
}

namespace {

// Up to eight bytes as a word, the first in the lowest bits, reading none
// past the text: two loads that may overlap, which is harmless for a mask.
std::uint64_t loadUpTo8(const char* bytes, std::size_t size) {
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

}  // namespace

void shortTextMasks(std::string_view text, char first, char second, std::uint64_t& firstMask,
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

void padBlock(std::string_view tail, std::string_view sought, char (&block)[kBlockSize]) {
  char filler = 0;
  while (sought.find(filler) != std::string_view::npos) ++filler;
  std::memset(block, filler, kBlockSize);
  if (!tail.empty()) std::memcpy(block, tail.data(), tail.size());
}

}  // namespace tavrin
