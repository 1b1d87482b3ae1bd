#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qrvdiff {

// Finds the line feeds of a stretch of memory in order, 64 bytes at a time: one comparison per
// block gives a bit per line feed, and each further line feed of the block is then a bit away.
// Listing lines are short, so this costs far less than a library search per line. With
// `kWatchNul`, the same pass also notes the first NUL byte of the blocks searched, so that input
// need not be searched for NUL bytes separately.
template <bool kWatchNul = false>
class LineFeedScanner {
 public:
  LineFeedScanner() = default;
  LineFeedScanner(const char* from, const char* end) { reset(from, end); }

  // Searches [from, end) from its start.
  void reset(const char* from, const char* end) {
    block_ = from;
    end_ = end;
    firstNul_ = nullptr;
    bits_ = from < end ? lineFeedBits(from) : 0;
  }

  // True when a NUL byte stands before `position`, which lies at or before the line feed last
  // returned by next().
  bool nulBefore(const char* position) const {
    return firstNul_ != nullptr && firstNul_ < position;
  }

  // The next line feed, or nullptr when there is none before the end.
  const char* next() {
    while (bits_ == 0) {
      if (end_ - block_ <= kBlock) {  // no pointer is formed past the end
        block_ = end_;
        return nullptr;
      }
      block_ += kBlock;
      // Input is read front to back once: ask for the bytes a page ahead.
      if constexpr (kWatchNul) {
        if (end_ - block_ > kPrefetchDistance) __builtin_prefetch(block_ + kPrefetchDistance);
      }
      bits_ = lineFeedBits(block_);
    }
    const char* found = block_ + std::countr_zero(bits_);
    bits_ &= bits_ - 1;
    return found;
  }

 private:
  static constexpr std::ptrdiff_t kBlock = 64;
  static constexpr std::ptrdiff_t kPrefetchDistance = 4096;

  // Bit i set when block[i] is a line feed, for the bytes of the block before the end.
  std::uint64_t lineFeedBits(const char* block) {
    if (end_ - block >= kBlock) return blockBits(block, block);
    // The last, partial block: never read past the end. The padding is not a NUL byte.
    alignas(16) char padded[kBlock];
    std::memset(padded, ' ', sizeof padded);
    std::memcpy(padded, block, static_cast<std::size_t>(end_ - block));
    return blockBits(padded, block);
  }

  std::uint64_t blockBits(const char* bytes, const char* block) {
    std::uint64_t lineFeeds = 0;
    std::uint64_t nuls = 0;
#if defined(__SSE2__)
    const __m128i lineFeed = _mm_set1_epi8('\n');
    const __m128i nul = _mm_setzero_si128();
    __m128i chunks[4];
    for (int part = 0; part < 4; ++part) {
      chunks[part] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * part));
      lineFeeds |= std::uint64_t{static_cast<std::uint32_t>(
                       _mm_movemask_epi8(_mm_cmpeq_epi8(chunks[part], lineFeed)))}
                   << (16 * part);
    }
    if constexpr (kWatchNul) {
      // Whether the block holds a NUL byte at all takes one test; where it stands is worked out
      // only then, which is rare.
      const __m128i smallest =
          _mm_min_epu8(_mm_min_epu8(chunks[0], chunks[1]), _mm_min_epu8(chunks[2], chunks[3]));
      if (_mm_movemask_epi8(_mm_cmpeq_epi8(smallest, nul)) != 0) [[unlikely]] {
        for (int part = 0; part < 4; ++part) {
          nuls |= std::uint64_t{static_cast<std::uint32_t>(
                      _mm_movemask_epi8(_mm_cmpeq_epi8(chunks[part], nul)))}
                  << (16 * part);
        }
      }
    }
#else
    for (int i = 0; i < kBlock; ++i) {
      lineFeeds |= std::uint64_t{bytes[i] == '\n'} << i;
      if constexpr (kWatchNul) nuls |= std::uint64_t{bytes[i] == '\0'} << i;
    }
#endif
    if (kWatchNul && nuls != 0 && firstNul_ == nullptr) firstNul_ = block + std::countr_zero(nuls);
    return lineFeeds;
  }

  const char* block_ = nullptr;
  const char* end_ = nullptr;
  const char* firstNul_ = nullptr;  // the first NUL byte of the blocks searched since reset
  std::uint64_t bits_ = 0;
};

}  // namespace qrvdiff
