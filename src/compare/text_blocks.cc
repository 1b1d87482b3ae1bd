#include "compare/text_blocks.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qrvdiff {

namespace {

#if defined(__SSE2__)

constexpr std::size_t kBlock = 64;

struct BlockBits {
  std::uint64_t lineFeeds;  // bit i: byte i of listing 2's block is a line feed
  std::uint64_t otherLineFeeds;
  std::uint64_t differing;  // bit i: the two blocks differ at byte i
};

BlockBits compareBlocks(const char* second, const char* first) {
  const __m128i lineFeed = _mm_set1_epi8('\n');
  BlockBits bits{0, 0, 0};
  for (int part = 0; part < 4; ++part) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + 16 * part));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + 16 * part));
    const auto mask = [](__m128i equal) {
      return std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(equal))};
    };
    const unsigned shift = 16u * static_cast<unsigned>(part);
    bits.lineFeeds |= mask(_mm_cmpeq_epi8(a, lineFeed)) << shift;
    bits.otherLineFeeds |= mask(_mm_cmpeq_epi8(b, lineFeed)) << shift;
    bits.differing |= (mask(_mm_cmpeq_epi8(a, b)) ^ 0xFFFFu) << shift;
  }
  return bits;
}

// A 128-bit mask as two words, shifted left by `count` (below 64).
struct WidePair {
  std::uint64_t low;
  std::uint64_t high;
  void orShifted(unsigned count) {
    high |= (high << count) | (low >> (64 - count));
    low |= low << count;
  }
};

#endif

}  // namespace

bool sameLinesFromColumn30(const char* second, const char* first, std::size_t size) {
#if defined(__SSE2__)
  // Bit i of `starts` marks a line beginning at byte i of the block. A byte lies in columns 0
  // to 29 when a line begins at most 29 bytes before it, possibly in the previous block.
  std::uint64_t previousStarts = 0;
  std::uint64_t carriedStart = 1;  // the text begins with a line
  for (std::size_t offset = 0; offset < size; offset += kBlock) {
    BlockBits bits;
    if (size - offset >= kBlock) {
      bits = compareBlocks(second + offset, first + offset);
    } else {
      // The last, partial block: copied behind equal padding, never read past the end.
      alignas(16) char paddedSecond[kBlock];
      alignas(16) char paddedFirst[kBlock];
      std::memset(paddedSecond, ' ', kBlock);
      std::memset(paddedFirst, ' ', kBlock);
      std::memcpy(paddedSecond, second + offset, size - offset);
      std::memcpy(paddedFirst, first + offset, size - offset);
      bits = compareBlocks(paddedSecond, paddedFirst);
    }
    if (bits.lineFeeds != bits.otherLineFeeds) return false;
    const std::uint64_t starts = (bits.lineFeeds << 1) | carriedStart;
    carriedStart = bits.lineFeeds >> 63;
    if (bits.differing != 0) {
      WidePair columns{previousStarts, starts};
      columns.orShifted(1);
      columns.orShifted(2);
      columns.orShifted(4);
      columns.orShifted(8);
      columns.orShifted(14);  // now 30 bytes from every start: columns 0 to 29
      if ((bits.differing & ~columns.high) != 0) return false;
    }
    previousStarts = starts;
  }
  return true;
#else
  (void)second;
  (void)first;
  (void)size;
  return false;
#endif
}

}  // namespace qrvdiff
