#include "base/arena.h"

#include <algorithm>
#include <cstring>

#include "base/platform.h"

namespace qrvdiff {

namespace {
// The first block is small, for small listings; from the second on, blocks are large enough to
// be backed by huge pages.
constexpr std::size_t kSecondBlock = std::size_t{2} << 20;
constexpr std::size_t kLargestBlock = std::size_t{64} << 20;
}  // namespace

TextArena::~TextArena() {
  for (const Block& block : blocks_) freeLargeBlock(block.data, block.size);
}

void TextArena::adopt(TextArena& other) {
  // Storing goes on in the current block, wherever it stands in the list.
  blocks_.insert(blocks_.end(), other.blocks_.begin(), other.blocks_.end());
  other.blocks_.clear();
  other.cursor_ = other.runStart_ = other.end_ = nullptr;
}

void TextArena::addBlock(std::size_t minimum) {
  const std::size_t size = std::max(nextBlockSize_, minimum);
  blocks_.reserve(blocks_.size() + 1);  // so that the push below cannot lose the block
  char* data = static_cast<char*>(allocateLargeBlock(size));
  blocks_.push_back({data, size});
  cursor_ = data;
  end_ = cursor_ + size;
  // Small listings stay small; large ones get few, large blocks.
  nextBlockSize_ = std::min(std::max(nextBlockSize_ * 2, kSecondBlock), kLargestBlock);
}

void TextArena::storeInRun(std::string_view text) {
  const std::size_t needed = text.size() + 1;
  if (static_cast<std::size_t>(end_ - cursor_) < needed) {
    const char* run = runStart_;
    const std::size_t runSize = static_cast<std::size_t>(cursor_ - runStart_);
    addBlock(runSize + needed);
    if (runSize != 0) std::memcpy(cursor_, run, runSize);
    runStart_ = cursor_;
    cursor_ += runSize;
  }
  store(text);
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
