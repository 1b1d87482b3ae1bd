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
// Listing lines are short, so this costs far less than a library search per line.
class LineFeedScanner {
 public:
  LineFeedScanner() = default;
  LineFeedScanner(const char* from, const char* end) { reset(from, end); }

  // Searches [from, end) from its start.
  void reset(const char* from, const char* end) {
    block_ = from;
    end_ = end;
    bits_ = from < end ? lineFeedBits(from) : 0;
  }

  // The next line feed, or nullptr when there is none before the end.
  const char* next() {
    while (bits_ == 0) {
      block_ += kBlock;
      if (block_ >= end_) {
        block_ = end_;
        return nullptr;
      }
      bits_ = lineFeedBits(block_);
    }
    const char* found = block_ + std::countr_zero(bits_);
    bits_ &= bits_ - 1;
    return found;
  }

 private:
  static constexpr std::ptrdiff_t kBlock = 64;

  // Bit i set when block[i] is a line feed, for the bytes of the block before the end.
  std::uint64_t lineFeedBits(const char* block) const {
    if (end_ - block >= kBlock) return fullBlockBits(block);
    // The last, partial block: never read past the end.
    alignas(16) char padded[kBlock] = {};
    std::memcpy(padded, block, static_cast<std::size_t>(end_ - block));
    return fullBlockBits(padded);
  }

  static std::uint64_t fullBlockBits(const char* block) {
#if defined(__SSE2__)
    const __m128i lineFeed = _mm_set1_epi8('\n');
    std::uint64_t bits = 0;
    for (int part = 0; part < 4; ++part) {
      const __m128i bytes =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * part));
      const auto mask = static_cast<std::uint32_t>(
          _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lineFeed)));
      bits |= std::uint64_t{mask} << (16 * part);
    }
    return bits;
#else
    std::uint64_t bits = 0;
    for (int i = 0; i < kBlock; ++i) {
      bits |= std::uint64_t{block[i] == '\n'} << i;
    }
    return bits;
#endif
  }

  const char* block_ = nullptr;
  const char* end_ = nullptr;
  std::uint64_t bits_ = 0;
};

}  // namespace qrvdiff
