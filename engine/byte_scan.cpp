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

// The separators outside quotes of one block, given whether its first byte
// lies inside a quote (`inside` all ones) or not (0); `inside` is left so for
// the next block.
inline std::uint64_t outsideQuotes(std::uint64_t separators, std::uint64_t quoted, std::uint64_t& inside) {
  quoted ^= inside;
  inside = static_cast<std::uint64_t>(static_cast<std::int64_t>(quoted) >> 63);
  return separators & ~quoted;
}

// Every path walks a line the same way: whole blocks, then the last 64 bytes
// of the line for the rest, shifted past the bytes already seen. No byte
// outside the line is read.
#define TAVRIN_MARK_SEPARATORS(MASKS, PARITY)                                  \
  std::uint64_t inside = 0;                                                    \
  std::size_t offset = 0;                                                      \
  std::uint64_t separators;                                                    \
  std::uint64_t quotes;                                                        \
  for (; offset + kBlockSize <= size; offset += kBlockSize) {                  \
    MASKS(line + offset, separators, quotes);                                  \
    *ends++ = outsideQuotes(separators, PARITY(quotes), inside);               \
  }                                                                            \
  if (offset < size) {                                                         \
    const std::size_t skip = kBlockSize - (size - offset);                     \
    MASKS(line + size - kBlockSize, separators, quotes);                       \
    *ends = outsideQuotes(separators >> skip, PARITY(quotes >> skip), inside); \
  }                                                                            \
  return inside != 0;

void portableMarkLineEnds(const char* text, std::size_t blocks, std::uint64_t* lineEnds) {
  for (std::size_t block = 0; block < blocks; ++block, text += kBlockSize) {
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < kBlockSize; i += 8) {
      const std::uint64_t word = loadLittleEndian(text + i);
      mask |= highBits(matchingBytes(word, '\r') | matchingBytes(word, '\n')) << i;
    }
    lineEnds[block] = mask;
  }
}

bool portableMarkSeparators(const char* line, std::size_t size, char separator, char quote,
                            std::uint64_t* ends) {
#define MASKS(block, separators, quotes) \
  (separators = portableMask(block, separator), quotes = portableMask(block, quote))
  TAVRIN_MARK_SEPARATORS(MASKS, prefixParity)
#undef MASKS
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

// Only the bytes of the text are marked, none of the zeros after it.
inline std::uint64_t inTextOf(std::size_t size) {
  return size == kBlockSize ? ~std::uint64_t{0} : (std::uint64_t{1} << size) - 1;
}

// The copy that every path but AVX-512 classifies.
inline void copyWithZeros(const char* text, std::size_t size, char* block) {
  std::memset(block, 0, kBlockSize);
  if (size != 0) std::memcpy(block, text, size);
}

void portableCopyAndClassify(const char* text, std::size_t size, const char (&bytes)[8], char* block,
                             ClassifiedBlock& classified) {
  copyWithZeros(text, size, block);
  for (int i = 0; i < 8; ++i) classified.equal[i] = portableMask(block, bytes[i]) & inTextOf(size);
}

#if defined(__x86_64__)

__attribute__((target("sse2"))) inline std::uint64_t sse2Mask(const char* block, __m128i wanted) {
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < kBlockSize; i += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + i));
    mask |= static_cast<std::uint64_t>(
                static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted))))
            << i;
  }
  return mask;
}

__attribute__((target("sse2"))) void sse2MarkLineEnds(const char* text, std::size_t blocks,
                                                      std::uint64_t* lineEnds) {
  const __m128i carriageReturn = _mm_set1_epi8('\r');
  const __m128i lineFeed = _mm_set1_epi8('\n');
  for (std::size_t block = 0; block < blocks; ++block, text += kBlockSize) {
    lineEnds[block] = sse2Mask(text, carriageReturn) | sse2Mask(text, lineFeed);
  }
}

__attribute__((target("sse2"))) bool sse2MarkSeparators(const char* line, std::size_t size, char separator,
                                                        char quote, std::uint64_t* ends) {
  const __m128i separatorBytes = _mm_set1_epi8(separator);
  const __m128i quoteBytes = _mm_set1_epi8(quote);
#define MASKS(block, separators, quotes) \
  (separators = sse2Mask(block, separatorBytes), quotes = sse2Mask(block, quoteBytes))
  TAVRIN_MARK_SEPARATORS(MASKS, prefixParity)
#undef MASKS
}

__attribute__((target("sse2"))) void sse2EachOfFour(const char* text, std::size_t size,
                                                    const char (&bytes)[4], std::uint64_t (&masks)[4]) {
  if (size < 16) {
    portableEachOfFour(text, size, bytes, masks);
    return;
  }
  __m128i wanted[4];
  for (int i = 0; i < 4; ++i) {
    wanted[i] = _mm_set1_epi8(bytes[i]);
    masks[i] = 0;
  }
  for (std::size_t offset = 0;; offset += 16) {
    const std::size_t at = std::min(offset, size - 16);
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    for (int i = 0; i < 4; ++i) {
      const int found = _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, wanted[i]));
      masks[i] |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(found)) << at;
    }
    if (at == size - 16) return;
  }
}

// A text of 16 bytes or more in chunks of 16 at 0, 16, 32 and so on, the last
// one ending with the text: chunks that overlap store the same bytes and give
// the same bits.
__attribute__((target("sse2"))) void sse2CopyAndClassify(const char* text, std::size_t size,
                                                         const char (&bytes)[8], char* block,
                                                         ClassifiedBlock& classified) {
  if (size < 16) {
    portableCopyAndClassify(text, size, bytes, block, classified);
    return;
  }
  classified = {};
  for (std::size_t offset = 0;; offset += 16) {
    const std::size_t at = std::min(offset, size - 16);
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(block + at), chunk);
    for (int i = 0; i < 8; ++i) {
      const int found = _mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8(bytes[i])));
      classified.equal[i] |= static_cast<std::uint64_t>(static_cast<std::uint16_t>(found)) << at;
    }
    if (at == size - 16) return;
  }
}

__attribute__((target("avx2"))) inline std::uint64_t avx2Mask(__m256i low, __m256i high, __m256i wanted) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, wanted))) |
         static_cast<std::uint64_t>(
             static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, wanted))))
             << 32;
}

__attribute__((target("avx2"))) inline __m256i avx2Load(const char* bytes) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
}

__attribute__((target("avx2"))) void avx2MarkLineEnds(const char* text, std::size_t blocks,
                                                      std::uint64_t* lineEnds) {
  const __m256i carriageReturn = _mm256_set1_epi8('\r');
  const __m256i lineFeed = _mm256_set1_epi8('\n');
  for (std::size_t block = 0; block < blocks; ++block, text += kBlockSize) {
    const __m256i low = avx2Load(text);
    const __m256i high = avx2Load(text + 32);
    const __m256i lowEnds =
        _mm256_or_si256(_mm256_cmpeq_epi8(low, carriageReturn), _mm256_cmpeq_epi8(low, lineFeed));
    const __m256i highEnds =
        _mm256_or_si256(_mm256_cmpeq_epi8(high, carriageReturn), _mm256_cmpeq_epi8(high, lineFeed));
    lineEnds[block] = static_cast<std::uint32_t>(_mm256_movemask_epi8(lowEnds)) |
                      static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(highEnds)))
                          << 32;
  }
}

// A carry-less multiplication by all ones is the running parity in one instruction.
__attribute__((target("pclmul"))) inline std::uint64_t carryLessParity(std::uint64_t x) {
  const __m128i product =
      _mm_clmulepi64_si128(_mm_set_epi64x(0, static_cast<long long>(x)), _mm_set1_epi8(-1), 0);
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(product));
}

__attribute__((target("avx2,pclmul"))) bool avx2MarkSeparators(const char* line, std::size_t size,
                                                               char separator, char quote,
                                                               std::uint64_t* ends) {
  const __m256i separatorBytes = _mm256_set1_epi8(separator);
  const __m256i quoteBytes = _mm256_set1_epi8(quote);
#define MASKS(block, separators, quotes)              \
  do {                                                \
    const __m256i low = avx2Load(block);              \
    const __m256i high = avx2Load((block) + 32);      \
    separators = avx2Mask(low, high, separatorBytes); \
    quotes = avx2Mask(low, high, quoteBytes);         \
  } while (false)
  TAVRIN_MARK_SEPARATORS(MASKS, carryLessParity)
#undef MASKS
}

__attribute__((target("avx2"))) void avx2EachOfFour(const char* text, std::size_t size,
                                                    const char (&bytes)[4], std::uint64_t (&masks)[4]) {
  if (size < 16) {
    portableEachOfFour(text, size, bytes, masks);
    return;
  }
  // Two loads that may overlap: the bits of a byte read twice agree.
  if (size < 32) {
    // Both halves of 16 bytes in one register.
    const __m256i halves = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(text + size - 16),
                                               reinterpret_cast<const __m128i*>(text));
    for (int i = 0; i < 4; ++i) {
      const auto found = static_cast<std::uint32_t>(
          _mm256_movemask_epi8(_mm256_cmpeq_epi8(halves, _mm256_set1_epi8(bytes[i]))));
      masks[i] = (found & 0xFFFF) | static_cast<std::uint64_t>(found >> 16) << (size - 16);
    }
    return;
  }
  const __m256i low = avx2Load(text);
  const __m256i high = avx2Load(text + size - 32);
  for (int i = 0; i < 4; ++i) {
    const __m256i wanted = _mm256_set1_epi8(bytes[i]);
    masks[i] = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, wanted))) |
               static_cast<std::uint64_t>(
                   static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, wanted))))
                   << (size - 32);
  }
}

// Two loads of 32 bytes that may overlap: the bits of a byte read twice agree.
__attribute__((target("avx2"))) void avx2CopyAndClassify(const char* text, std::size_t size,
                                                         const char (&bytes)[8], char* block,
                                                         ClassifiedBlock& classified) {
  if (size < 32) {
    sse2CopyAndClassify(text, size, bytes, block, classified);
    return;
  }
  const std::size_t highAt = size - 32;
  const __m256i low = avx2Load(text);
  const __m256i high = avx2Load(text + highAt);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(block), low);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + highAt), high);
  auto bits = [highAt](int lowFound, int highFound) {
    return static_cast<std::uint32_t>(lowFound) |
           static_cast<std::uint64_t>(static_cast<std::uint32_t>(highFound)) << highAt;
  };
  for (int i = 0; i < 8; ++i) {
    const __m256i wanted = _mm256_set1_epi8(bytes[i]);
    classified.equal[i] = bits(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, wanted)),
                               _mm256_movemask_epi8(_mm256_cmpeq_epi8(high, wanted)));
  }
}

// Compares give bit masks directly, and a masked load reads a text shorter
// than a block without touching the bytes after it.
__attribute__((target("avx512f,avx512bw"))) inline std::uint64_t avx512Mask(__m512i bytes, char byte) {
  return _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(byte));
}

__attribute__((target("avx512f,avx512bw"))) inline __m512i avx512Load(const char* bytes) {
  return _mm512_loadu_si512(bytes);
}

__attribute__((target("avx512f,avx512bw"))) void avx512MarkLineEnds(const char* text, std::size_t blocks,
                                                                    std::uint64_t* lineEnds) {
  for (std::size_t block = 0; block < blocks; ++block, text += kBlockSize) {
    const __m512i bytes = avx512Load(text);
    lineEnds[block] = avx512Mask(bytes, '\r') | avx512Mask(bytes, '\n');
  }
}

__attribute__((target("avx512f,avx512bw,pclmul"))) bool avx512MarkSeparators(const char* line,
                                                                             std::size_t size, char separator,
                                                                             char quote,
                                                                             std::uint64_t* ends) {
#define MASKS(block, separators, quotes)       \
  do {                                         \
    const __m512i bytes = avx512Load(block);   \
    separators = avx512Mask(bytes, separator); \
    quotes = avx512Mask(bytes, quote);         \
  } while (false)
  TAVRIN_MARK_SEPARATORS(MASKS, carryLessParity)
#undef MASKS
}

__attribute__((target("avx512f,avx512bw"))) void avx512EachOfFour(const char* text, std::size_t size,
                                                                  const char (&bytes)[4],
                                                                  std::uint64_t (&masks)[4]) {
  const std::uint64_t inText = inTextOf(size);
  const __m512i block = _mm512_maskz_loadu_epi8(inText, text);
  for (int i = 0; i < 4; ++i) masks[i] = avx512Mask(block, bytes[i]) & inText;
}

__attribute__((target("avx512f,avx512bw"))) void avx512CopyAndClassify(const char* text, std::size_t size,
                                                                       const char (&bytes)[8], char* block,
                                                                       ClassifiedBlock& classified) {
  const std::uint64_t inText = inTextOf(size);
  const __m512i bytesOfText = _mm512_maskz_loadu_epi8(inText, text);
  _mm512_storeu_si512(block, bytesOfText);
  for (int i = 0; i < 8; ++i) classified.equal[i] = avx512Mask(bytesOfText, bytes[i]) & inText;
}

#endif

#undef TAVRIN_MARK_SEPARATORS

VectorPath bestPath() {
#if defined(__x86_64__)
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("pclmul")) return VectorPath::Sse2;
  if (__builtin_cpu_supports("avx512bw")) return VectorPath::Avx512;
  if (__builtin_cpu_supports("avx2")) return VectorPath::Avx2;
  return VectorPath::Sse2;  // every x86-64 processor has it
#else
  return VectorPath::Portable;
#endif
}

VectorPath choosePath() {
  VectorPath path = bestPath();
  if (const char* asked = std::getenv("TAVRIN_VECTOR_PATH")) {
    for (const VectorPath lesser : {VectorPath::Portable, VectorPath::Sse2, VectorPath::Avx2}) {
      if (vectorPathName(lesser) == asked && lesser < path) path = lesser;
    }
  }
  return path;
}

}  // namespace

BlockScanner scannerFor(VectorPath path) {
  switch (path) {
#if defined(__x86_64__)
    case VectorPath::Avx512:
      return {avx512MarkLineEnds, avx512MarkSeparators, avx512EachOfFour, avx512CopyAndClassify};
    case VectorPath::Avx2:
      return {avx2MarkLineEnds, avx2MarkSeparators, avx2EachOfFour, avx2CopyAndClassify};
    case VectorPath::Sse2:
      return {sse2MarkLineEnds, sse2MarkSeparators, sse2EachOfFour, sse2CopyAndClassify};
#endif
    default:
      return {portableMarkLineEnds, portableMarkSeparators, portableEachOfFour, portableCopyAndClassify};
  }
}

VectorPath vectorPath() {
  static const VectorPath path = choosePath();
  return path;
}

std::string_view vectorPathName(VectorPath path) {
  switch (path) {
    case VectorPath::Avx512:
      return "avx512";
    case VectorPath::Avx2:
      return "avx2";
    case VectorPath::Sse2:
      return "sse2";
    case VectorPath::Portable:
      break;
  }
  return "portable";
}

}  // namespace tavrin
