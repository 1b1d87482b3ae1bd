#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "base/platform.h"

namespace qrvdiff {

// A key chosen per run, so that no input can be made to pile its lines into one chain of the
// tables below: hashes only place entries, lookups always compare the texts themselves.
std::uint64_t runHashKey();

// Eight characters at a time, each step a multiplication and a fold.
inline std::uint64_t hashText(std::string_view text) {
  constexpr std::uint64_t kMultiplier = 0x9e3779b97f4a7c15ULL;
  static const std::uint64_t key = runHashKey();
  std::uint64_t hash = (key * kMultiplier) ^ text.size();
  const char* cursor = text.data();
  std::size_t left = text.size();
  for (; left >= 8; cursor += 8, left -= 8) {
    std::uint64_t word;
    std::memcpy(&word, cursor, 8);
    hash = (hash ^ word) * kMultiplier;
    hash ^= hash >> 31;
  }
  std::uint64_t last = 0;
  for (std::size_t i = 0; i < left; ++i) {
    last |= std::uint64_t{static_cast<unsigned char>(cursor[i])} << (8 * i);
  }
  hash = (hash ^ last) * kMultiplier;
  hash ^= hash >> 29;
  hash *= 0xbf58476d1ce4e5b9ULL;
  return hash ^ (hash >> 32);
}

// An open-addressing table from hashed keys to 32-bit values, for the lookups that pair lines
// of the two listings. It stores only each key's hash and value; the caller tells, from a value,
// whether that entry's key is the one sought. Entries are never removed.
class HashedIndex {
 public:
  static constexpr std::uint32_t kNotFound = 0xffffffffu;

  explicit HashedIndex(std::size_t expectedEntries) { reset(expectedEntries); }

  // Empties the index, keeping its memory for the entries to come.
  void reset(std::size_t expectedEntries) {
    std::size_t capacity = 16;
    while (capacity < expectedEntries * 2) capacity *= 2;
    slots_.assign(capacity, Slot{0, kNotFound});
    mask_ = capacity - 1;
    count_ = 0;
  }

  // The value of the first entry with this hash for which `matches(value)` holds.
  template <typename Matches>
  std::uint32_t find(std::uint64_t hash, Matches matches) const {
    for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.value == kNotFound) return kNotFound;
      if (slot.hash == hash && matches(slot.value)) return slot.value;
    }
  }

  // Adds an entry; the caller makes sure no equal key is present yet.
  void insert(std::uint64_t hash, std::uint32_t value) {
    if ((count_ + 1) * 2 > slots_.size()) grow();
    place(hash, value);
    ++count_;
  }

 private:
  struct Slot {
    std::uint64_t hash;
    std::uint32_t value;
  };

  void place(std::uint64_t hash, std::uint32_t value) {
    std::size_t i = hash & mask_;
    while (slots_[i].value != kNotFound) i = (i + 1) & mask_;
    slots_[i] = Slot{hash, value};
  }

  void grow() {
    LargeVector<Slot> old = std::move(slots_);
    slots_.assign(old.size() * 2, Slot{0, kNotFound});
    mask_ = slots_.size() - 1;
    for (const Slot& slot : old) {
      if (slot.value != kNotFound) place(slot.hash, slot.value);
    }
  }

  LargeVector<Slot> slots_;
  std::size_t mask_ = 0;
  std::size_t count_ = 0;
};

}  // namespace qrvdiff
