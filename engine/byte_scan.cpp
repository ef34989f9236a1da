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

std::uint64_t outsideQuotes(std::uint64_t separators, std::uint64_t quotes, unsigned skip,
                            std::uint64_t& inside, std::uint64_t (*parity)(std::uint64_t)) {
  const std::uint64_t quoted = parity(quotes >> skip) ^ inside;
  inside = static_cast<std::uint64_t>(static_cast<std::int64_t>(quoted) >> 63);
  return separators >> skip & ~quoted;
}

std::uint64_t portableEitherOf(const char* block, char first, char second) {
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < kBlockSize; i += 8) {
    const std::uint64_t word = loadLittleEndian(block + i);
    mask |= highBits(matchingBytes(word, first) | matchingBytes(word, second)) << i;
  }
  return mask;
}

void portableEachOfFour(const char* text, std::size_t size, const char (&bytes)[4],
                        std::uint64_t (&masks)[4]) {
  if (size < 8) {
    const std::uint64_t word = loadUpTo8(text, size);
    const std::uint64_t inText = (std::uint64_t{1} << size) - 1;  // a missing byte reads as 0
    for (int i = 0; i < 4; ++i) masks[i] = highBits(matchingBytes(word, bytes[i])) & inText;
    return;
  }
  for (int i = 0; i < 4; ++i) masks[i] = 0;
  // Words at 0, 8, 16 and so on, the last one ending with the text.
  for (std::size_t offset = 0;; offset += 8) {
    const std::size_t at = std::min(offset, size - 8);
    const std::uint64_t word = loadLittleEndian(text + at);
    for (int i = 0; i < 4; ++i) masks[i] |= highBits(matchingBytes(word, bytes[i])) << at;
    if (at == size - 8) return;
  }
}

std::uint64_t portableSeparators(const char* block, unsigned skip, char separator, char quote,
                                 std::uint64_t& inside) {
  return outsideQuotes(portableMask(block, separator), portableMask(block, quote), skip, inside,
                       prefixParity);
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

__attribute__((target("sse2"))) std::uint64_t sse2Separators(const char* block, unsigned skip, char separator,
                                                             char quote, std::uint64_t& inside) {
  return outsideQuotes(sse2Mask(block, separator), sse2Mask(block, quote), skip, inside, prefixParity);
}

__attribute__((target("sse2"))) void sse2EachOfFour(const char* text, std::size_t size,
                                                    const char (&bytes)[4], std::uint64_t (&masks)[4]) {
  if (size < 16) {
    portableEachOfFour(text, size, bytes, masks);
    return;
  }
  for (int i = 0; i < 4; ++i) masks[i] = 0;
  for (std::size_t offset = 0;; offset += 16) {
    const std::size_t at = std::min(offset, size - 16);
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    for (int i = 0; i < 4; ++i) {
      const int found = _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(bytes[i])));
      masks[i] |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(found)) << at;
    }
    if (at == size - 16) return;
  }
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

__attribute__((target("avx2"))) void avx2EachOfFour(const char* text, std::size_t size,
                                                    const char (&bytes)[4], std::uint64_t (&masks)[4]) {
  if (size < 32) {
    sse2EachOfFour(text, size, bytes, masks);
    return;
  }
  // Two loads that may overlap: the bits of a byte read twice agree.
  const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text));
  const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + size - 32));
  for (int i = 0; i < 4; ++i) {
    const __m256i wanted = _mm256_set1_epi8(bytes[i]);
    masks[i] = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, wanted))) |
               static_cast<std::uint64_t>(
                   static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, wanted))))
                   << (size - 32);
  }
}

// A carry-less multiplication by all ones is the running parity in one instruction.
__attribute__((target("pclmul"))) std::uint64_t carryLessParity(std::uint64_t x) {
  const __m128i product =
      _mm_clmulepi64_si128(_mm_set_epi64x(0, static_cast<long long>(x)), _mm_set1_epi8(-1), 0);
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

__attribute__((target("avx2,pclmul"))) std::uint64_t avx2Separators(const char* block, unsigned skip,
                                                                    char separator, char quote,
                                                                    std::uint64_t& inside) {
  return outsideQuotes(avx2Mask(block, separator), avx2Mask(block, quote), skip, inside, carryLessParity);
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

}  // namespace tavrin
