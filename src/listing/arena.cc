#include "listing/arena.h"

#include <algorithm>
#include <cstring>

namespace qrvdiff {

namespace {
constexpr std::size_t kLargestBlock = 16 * 1024 * 1024;
}

void TextArena::addBlock(std::size_t minimum) {
  const std::size_t size = std::max(nextBlockSize_, minimum);
  blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
  cursor_ = blocks_.back().get();
  end_ = cursor_ + size;
  bytesReserved_ += size;
  // Small listings stay small; large ones get few, large blocks.
  nextBlockSize_ = std::min(nextBlockSize_ * 2, kLargestBlock);
}

char* TextArena::store(std::string_view text) {
  const std::size_t needed = text.size() + 1;
  if (static_cast<std::size_t>(end_ - cursor_) < needed) addBlock(needed);
  char* copy = cursor_;
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\n';
  cursor_ += needed;
  return copy;
}

}  // namespace qrvdiff
